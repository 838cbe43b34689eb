#pragma once

#include <QObject>
#include <QPointer>

// Tells whether an object outlived a nested event loop. A modal dialog, a
// message box or a pause runs the event loop, and a handler run meanwhile
// may destroy the object whose method opened it (the window closes, the
// program ends); after the loop returns the method touches nothing of its
// object unless Alive().
//
//     const TAliveGuard guard(this);
//     Interaction().Warning(this, text);
//     if (!guard.Alive())
//         return;
class TAliveGuard {
public:
    explicit TAliveGuard(QObject* object) : FObject(object) {}

    bool Alive() const { return !FObject.isNull(); }

private:
    QPointer<QObject> FObject;
};
