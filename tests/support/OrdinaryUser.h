#pragma once

#include <QFile>
#include <QString>

#include <sys/stat.h>
#include <unistd.h>

// Root reads any file whatever its mode. While an OrdinaryUser lives, a test
// run as root acts as the user "nobody", so that permissions count; anyone
// else stays who they are. Own(path) hands a file made before to the user
// the test acts as.
class OrdinaryUser {
public:
    static constexpr uid_t Nobody = 65534;

    static void Own(const QString& path) {
        if (::geteuid() == 0 && ::chown(QFile::encodeName(path).constData(), Nobody, Nobody) != 0)
            return;
    }

    OrdinaryUser() : FSwitched(::geteuid() == 0 && ::seteuid(Nobody) == 0) {}
    ~OrdinaryUser() {
        if (FSwitched && ::seteuid(0) != 0)
            return;
    }
    OrdinaryUser(const OrdinaryUser&) = delete;
    OrdinaryUser& operator=(const OrdinaryUser&) = delete;

private:
    bool FSwitched;
};
