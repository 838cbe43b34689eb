// The real program's start on an X server (Xvfb): from the moment it is
// started to the moment its main window shows the painted terminal pane on
// the screen. Skipped (with a note) when Xvfb is not installed.
#include "bench/e2e/ConsoleProcess.h"
#include "bench/e2e/Measure.h"
#include "bench/e2e/VirtualDisplay.h"
#include "tests/support/PtyPair.h"

#include <QCoreApplication>
#include <QProcess>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

constexpr int Runs = 7;
constexpr int TimeoutMs = 20000;
constexpr quint32 PaneWhite = 0xFFFFFF;

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeReply>;

// Watches the screen for top-level windows being mapped.
class ScreenWatch {
public:
    explicit ScreenWatch(const QByteArray& display) {
        FConnection = xcb_connect(display.constData(), nullptr);
        if (xcb_connection_has_error(FConnection))
            return;
        FRoot = xcb_setup_roots_iterator(xcb_get_setup(FConnection)).data->root;
        const quint32 mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(FConnection, FRoot, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(FConnection);
    }
    ~ScreenWatch() { xcb_disconnect(FConnection); }
    bool Valid() const { return FRoot != 0; }

    void DropEvents() {
        while (Reply<xcb_generic_event_t>(xcb_poll_for_event(FConnection)))
            ;
    }

    // Waits for a window to be mapped; 0 after the deadline.
    xcb_window_t WaitForMap(qint64 deadline) {
        while (MonotonicNs() < deadline) {
            Reply<xcb_generic_event_t> event(xcb_poll_for_event(FConnection));
            if (!event) {
                QThread::usleep(200);
                continue;
            }
            if ((event->response_type & 0x7f) != XCB_MAP_NOTIFY)
                continue;
            const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event.get());
            if (!map->override_redirect)
                return map->window;
        }
        return 0;
    }

    // The colour of the pixel in the middle of Window (RGB), or -1.
    qint64 CentrePixel(xcb_window_t window) {
        Reply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(FConnection, xcb_get_geometry(FConnection, window), nullptr));
        if (!geometry)
            return -1;
        Reply<xcb_get_image_reply_t> image(
            xcb_get_image_reply(FConnection,
                                xcb_get_image(FConnection, XCB_IMAGE_FORMAT_Z_PIXMAP, window,
                                              qint16(geometry->width / 2),
                                              qint16(geometry->height / 2), 1, 1, 0xFFFFFFFF),
                                nullptr));
        if (!image || xcb_get_image_data_length(image.get()) < 4)
            return -1;
        const uint8_t* data = xcb_get_image_data(image.get());
        return qint64(data[0] | data[1] << 8 | data[2] << 16);
    }

private:
    xcb_connection_t* FConnection = nullptr;
    xcb_window_t FRoot = 0;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QByteArray xvfb = VirtualDisplay::FindServer();
    if (xvfb.isEmpty()) {
        std::fprintf(stderr, "startup_x11_ms: skipped, Xvfb is not installed "
                             "(scripts/install-deps.sh --with-display-tools)\n");
        return 0;
    }
    VirtualDisplay display;
    if (!display.Start(xvfb)) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    PtyPair pty;
    ConsoleProcess console;
    console.Environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    console.Environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display.Name));
    if (!console.Start("[Devices]\r\nCOM1=" + pty.SlavePath().toLocal8Bit() + "\r\n")) {
        std::fprintf(stderr, "the program did not start\n");
        return 1;
    }
    console.Stop();

    ScreenWatch screen(display.Name);
    if (!screen.Valid()) {
        std::fprintf(stderr, "no connection to Xvfb\n");
        return 1;
    }
    std::vector<double> samples;
    for (int run = 0; run < Runs; ++run) {
        screen.DropEvents();
        qint64 start = 0;
        if (!console.Restart(start)) {
            std::fprintf(stderr, "the program did not start again\n");
            return 1;
        }
        const qint64 deadline = start + qint64(TimeoutMs) * 1000000;
        const xcb_window_t window = screen.WaitForMap(deadline);
        // The pane is white once the program has painted it.
        while (window != 0 && screen.CentrePixel(window) != PaneWhite && MonotonicNs() < deadline)
            QThread::usleep(200);
        const qint64 painted = MonotonicNs();
        if (window != 0 && painted < deadline)
            samples.push_back(MillisecondsBetween(start, painted));
        console.Stop();
    }
    if (samples.empty()) {
        std::fprintf(stderr, "the main window never showed its pane\n");
        return 1;
    }
    Report("startup_x11_ms", Median(samples), "ms", 1);
    return 0;
}
