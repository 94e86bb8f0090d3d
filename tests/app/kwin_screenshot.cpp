// A test tool that reads back what KWin shows on its outputs: for each
// named output it asks the compositor's screenshot service on the session
// bus (which answers any caller when KWin runs with its screenshot
// permission checks off) for the output's picture through a pipe, and
// writes it as a binary PPM. Exits 0 when every file is written, 2 when
// the bus has no screenshot service, 1 on other failures (a line on
// standard error says which). Relies on GIO.
//
// Usage: mereglass_kwin_screenshot OUTPUT FILE [OUTPUT FILE ...]
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kTimeoutMilliseconds = 20 * 1000;
// The picture's layouts (Qt's image formats) this tool converts: 32 bits
// a pixel, as B, G, R, A or as R, G, B, A in memory.
constexpr uint32_t kRgb32 = 4, kArgb32 = 5, kArgb32Premultiplied = 6;
constexpr uint32_t kRgbx8888 = 16, kRgba8888 = 17, kRgba8888Premultiplied = 18;

struct Picture {
    uint32_t width = 0, height = 0, stride = 0, format = 0;
};

bool Convert(const Picture& p, const std::vector<unsigned char>& data, const std::string& file,
             std::string* error) {
    bool bgr = false;
    if (p.format == kRgb32 || p.format == kArgb32 || p.format == kArgb32Premultiplied) {
        bgr = true;
    } else if (p.format != kRgbx8888 && p.format != kRgba8888 &&
               p.format != kRgba8888Premultiplied) {
        *error = "a picture of image format " + std::to_string(p.format);
        return false;
    }
    if (p.width == 0 || p.stride < p.width * 4 || data.size() < size_t{p.stride} * p.height) {
        *error = "a picture of " + std::to_string(data.size()) + " bytes for " +
                 std::to_string(p.width) + "x" + std::to_string(p.height);
        return false;
    }
    FILE* out = std::fopen(file.c_str(), "wb");
    if (out == nullptr) {
        *error = "cannot write " + file;
        return false;
    }
    std::fprintf(out, "P6\n%u %u\n255\n", p.width, p.height);
    std::vector<unsigned char> row(size_t{p.width} * 3);
    for (uint32_t y = 0; y < p.height; ++y) {
        const unsigned char* from = data.data() + size_t{y} * p.stride;
        for (uint32_t x = 0; x < p.width; ++x) {
            row[x * 3] = from[x * 4 + (bgr ? 2 : 0)];
            row[x * 3 + 1] = from[x * 4 + 1];
            row[x * 3 + 2] = from[x * 4 + (bgr ? 0 : 2)];
        }
        std::fwrite(row.data(), 1, row.size(), out);
    }
    return std::fclose(out) == 0;
}

// The output's picture, read from the pipe while the call waits for its
// answer (the compositor may write before it answers).
bool Capture(GDBusConnection* bus, const char* output, const std::string& file,
             std::string* error) {
    int fds[2];
    if (pipe(fds) != 0) {
        *error = "no pipe";
        return false;
    }
    std::vector<unsigned char> data;
    // The compositor keeps its end open until it has written the picture,
    // or for good should it fail: the reader gives up after the time limit.
    std::thread reader([&data, fd = fds[0]] {
        unsigned char buffer[65536];
        for (pollfd p{fd, POLLIN, 0}; poll(&p, 1, kTimeoutMilliseconds) > 0;) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) break;
            data.insert(data.end(), buffer, buffer + n);
        }
        close(fd);
    });
    GUnixFDList* list = g_unix_fd_list_new_from_array(&fds[1], 1);  // takes the fd
    GError* e = nullptr;
    GVariant* r = g_dbus_connection_call_with_unix_fd_list_sync(
        bus, "org.kde.KWin", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2",
        "CaptureScreen",
        g_variant_new("(s@a{sv}h)", output, g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0),
                      0),
        G_VARIANT_TYPE("(a{sv})"), G_DBUS_CALL_FLAGS_NONE, kTimeoutMilliseconds, list, nullptr,
        nullptr, &e);
    // Our end of the pipe goes, so the reader sees its end.
    g_object_unref(list);
    reader.join();
    if (r == nullptr) {
        *error = e->message;
        g_error_free(e);
        return false;
    }
    Picture p;
    GVariant* results = g_variant_get_child_value(r, 0);
    g_variant_lookup(results, "width", "u", &p.width);
    g_variant_lookup(results, "height", "u", &p.height);
    g_variant_lookup(results, "stride", "u", &p.stride);
    g_variant_lookup(results, "format", "u", &p.format);
    g_variant_unref(results);
    g_variant_unref(r);
    return Convert(p, data, file, error);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: %s OUTPUT FILE [OUTPUT FILE ...]\n", argv[0]);
        return 1;
    }
    GError* e = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &e);
    if (bus == nullptr) {
        std::fprintf(stderr, "kwin screenshot: no session bus: %s\n", e->message);
        g_error_free(e);
        return 1;
    }
    std::string error;
    for (int i = 1; i + 1 < argc && error.empty(); i += 2) {
        if (!Capture(bus, argv[i], argv[i + 1], &error))
            error = std::string(argv[i]) + ": " + error;
    }
    g_object_unref(bus);
    if (!error.empty()) {
        std::fprintf(stderr, "kwin screenshot: %s\n", error.c_str());
        return error.find("ServiceUnknown") != std::string::npos ? 2 : 1;
    }
    return 0;
}
