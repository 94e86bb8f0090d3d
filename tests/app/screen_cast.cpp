// A test tool that reads back what a GNOME compositor (Mutter) shows on
// its monitors, which it offers no screenshot for: it records each named
// monitor through the compositor's ScreenCast service on the session bus,
// takes the first whole frame of each stream from PipeWire, and writes it
// as a binary PPM. There is no session manager to link the streams, so it
// links each to its monitor's node itself. Exits 0 when every file is
// written, 2 when the bus has no ScreenCast service, 1 on other failures
// (a line on standard error says which). Relies on GIO and libpipewire.
//
// Usage: mereglass_screen_cast CONNECTOR FILE [CONNECTOR FILE ...]
#include <gio/gio.h>
#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// How long the whole tool may take, generous on a busy machine.
constexpr unsigned kDeadlineSeconds = 20;
const char kService[] = "org.gnome.Mutter.ScreenCast";

struct Cast;

// One monitor's stream: the compositor's node, ours, and the frame.
struct Capture {
    Cast* cast = nullptr;
    std::string connector, file;
    std::string streamPath;
    uint32_t sourceNode = SPA_ID_INVALID;
    pw_stream* stream = nullptr;
    spa_hook listener{};
    pw_proxy* link = nullptr;
    spa_video_info_raw format{};
    bool written = false;
};

struct Cast {
    std::vector<Capture> captures;
    pw_main_loop* loop = nullptr;
    pw_core* core = nullptr;
    std::string error;
};

void Fail(Cast* cast, const std::string& error) {
    if (cast->error.empty()) cast->error = error;
    pw_main_loop_quit(cast->loop);
}

// The compositor's frame in `format` (BGRx or BGRA, or RGBx or RGBA) to
// the capture's file, as RGB.
bool WritePpm(const Capture& c, const uint8_t* data, int stride) {
    const uint32_t w = c.format.size.width, h = c.format.size.height;
    const bool bgr =
        c.format.format == SPA_VIDEO_FORMAT_BGRx || c.format.format == SPA_VIDEO_FORMAT_BGRA;
    FILE* out = std::fopen(c.file.c_str(), "wb");
    if (out == nullptr) return false;
    std::fprintf(out, "P6\n%u %u\n255\n", w, h);
    std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* from = data + static_cast<ptrdiff_t>(y) * stride;
        for (uint32_t x = 0; x < w; ++x) {
            row[x * 3] = from[x * 4 + (bgr ? 2 : 0)];
            row[x * 3 + 1] = from[x * 4 + 1];
            row[x * 3 + 2] = from[x * 4 + (bgr ? 0 : 2)];
        }
        std::fwrite(row.data(), 1, row.size(), out);
    }
    return std::fclose(out) == 0;
}

void OnProcess(void* data) {
    auto* c = static_cast<Capture*>(data);
    pw_buffer* b = pw_stream_dequeue_buffer(c->stream);
    if (b == nullptr) return;
    const spa_buffer* buf = b->buffer;
    const spa_meta_header* header = static_cast<const spa_meta_header*>(
        spa_buffer_find_meta_data(buf, SPA_META_Header, sizeof(spa_meta_header)));
    const bool corrupted = header != nullptr && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED);
    const spa_data& d = buf->datas[0];
    const uint32_t w = c->format.size.width, h = c->format.size.height;
    // Frames that only move the cursor come without pixels.
    if (!c->written && !corrupted && d.data != nullptr && w > 0 && h > 0 &&
        d.chunk->stride >= static_cast<int32_t>(w * 4) &&
        d.chunk->size >= static_cast<uint32_t>(d.chunk->stride) * h) {
        if (!WritePpm(*c, static_cast<const uint8_t*>(d.data) + d.chunk->offset, d.chunk->stride)) {
            Fail(c->cast, "cannot write " + c->file);
        }
        c->written = true;
    }
    pw_stream_queue_buffer(c->stream, b);
    bool all = true;
    for (const Capture& other : c->cast->captures) all = all && other.written;
    if (all) pw_main_loop_quit(c->cast->loop);
}

// Once the format is settled: the buffers, mapped into our memory.
void OnParamChanged(void* data, uint32_t id, const spa_pod* param) {
    auto* c = static_cast<Capture*>(data);
    if (param == nullptr || id != SPA_PARAM_Format) return;
    if (spa_format_video_raw_parse(param, &c->format) < 0) {
        Fail(c->cast, c->connector + ": a format that is not raw video");
        return;
    }
    uint8_t space[256];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(space, sizeof space);
    const spa_pod* params[] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))))};
    pw_stream_update_params(c->stream, params, 1);
}

// Once our node is there, it is linked to the monitor's.
void OnStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error) {
    auto* c = static_cast<Capture*>(data);
    if (state == PW_STREAM_STATE_ERROR) {
        Fail(c->cast, c->connector + ": " + (error != nullptr ? error : "stream error"));
    } else if (state == PW_STREAM_STATE_PAUSED && c->link == nullptr) {
        const std::string out = std::to_string(c->sourceNode);
        const std::string in = std::to_string(pw_stream_get_node_id(c->stream));
        pw_properties* props = pw_properties_new(PW_KEY_LINK_OUTPUT_NODE, out.c_str(),
                                                 PW_KEY_LINK_INPUT_NODE, in.c_str(), nullptr);
        c->link = static_cast<pw_proxy*>(pw_core_create_object(c->cast->core, "link-factory",
                                                               PW_TYPE_INTERFACE_Link,
                                                               PW_VERSION_LINK, &props->dict, 0));
        pw_properties_free(props);
    }
}

pw_stream_events StreamEvents() {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = OnStateChanged;
    events.param_changed = OnParamChanged;
    events.process = OnProcess;
    return events;
}

const pw_stream_events kStreamEvents = StreamEvents();

bool Connect(Capture* c) {
    c->stream = pw_stream_new(c->cast->core, "mereglass-screen-cast",
                              pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                                "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (c->stream == nullptr) return false;
    pw_stream_add_listener(c->stream, &c->listener, &kStreamEvents, c);
    uint8_t space[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(space, sizeof space);
    const spa_rectangle minSize = SPA_RECTANGLE(1, 1), maxSize = SPA_RECTANGLE(8192, 8192);
    const spa_rectangle size = SPA_RECTANGLE(320, 240);
    const spa_fraction rate = SPA_FRACTION(30, 1), noRate = SPA_FRACTION(0, 1),
                       maxRate = SPA_FRACTION(1000, 1);
    const spa_pod* params[] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                               SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size, &minSize, &maxSize),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&rate, &noRate, &maxRate)))};
    return pw_stream_connect(c->stream, PW_DIRECTION_INPUT, c->sourceNode,
                             static_cast<pw_stream_flags>(PW_STREAM_FLAG_MAP_BUFFERS), params,
                             1) == 0;
}

void OnDeadline(void* data, uint64_t) { Fail(static_cast<Cast*>(data), "no frame in time"); }

// Reads one frame of each stream through PipeWire.
bool ReadFrames(Cast* cast) {
    cast->loop = pw_main_loop_new(nullptr);
    pw_context* context = pw_context_new(pw_main_loop_get_loop(cast->loop), nullptr, 0);
    cast->core = pw_context_connect(context, nullptr, 0);
    if (cast->core == nullptr) {
        cast->error = "cannot connect to PipeWire";
    } else {
        bool ok = true;
        for (Capture& c : cast->captures) ok = ok && Connect(&c);
        if (!ok) cast->error = "cannot make a PipeWire stream";
    }
    spa_source* timer = pw_loop_add_timer(pw_main_loop_get_loop(cast->loop), OnDeadline, cast);
    timespec deadline{kDeadlineSeconds, 0};
    pw_loop_update_timer(pw_main_loop_get_loop(cast->loop), timer, &deadline, nullptr, false);
    if (cast->error.empty()) pw_main_loop_run(cast->loop);
    for (Capture& c : cast->captures) {
        if (c.link != nullptr) pw_proxy_destroy(c.link);
        if (c.stream != nullptr) pw_stream_destroy(c.stream);
    }
    pw_loop_destroy_source(pw_main_loop_get_loop(cast->loop), timer);
    if (cast->core != nullptr) pw_core_disconnect(cast->core);
    pw_context_destroy(context);
    pw_main_loop_destroy(cast->loop);
    return cast->error.empty();
}

GVariant* Call(GDBusConnection* bus, const std::string& path, const char* interface,
               const char* method, GVariant* args, const char* reply, std::string* error) {
    GError* e = nullptr;
    GVariant* r = g_dbus_connection_call_sync(bus, kService, path.c_str(), interface, method, args,
                                              G_VARIANT_TYPE(reply), G_DBUS_CALL_FLAGS_NONE,
                                              kDeadlineSeconds * 1000, nullptr, &e);
    if (r == nullptr) {
        *error = std::string(method) + ": " + e->message;
        g_error_free(e);
    }
    return r;
}

void OnStreamAdded(GDBusConnection*, const char*, const char* path, const char*, const char*,
                   GVariant* args, void* data) {
    for (Capture& c : static_cast<Cast*>(data)->captures) {
        if (c.streamPath == path) g_variant_get(args, "(u)", &c.sourceNode);
    }
}

// A ScreenCast session recording each monitor, started, with the PipeWire
// node of each stream known; its path, or empty with `error` set.
std::string StartSession(GDBusConnection* bus, Cast* cast, std::string* error) {
    GVariant* r = Call(bus, "/org/gnome/Mutter/ScreenCast", kService, "CreateSession",
                       g_variant_new_parsed("(@a{sv} {},)"), "(o)", error);
    if (r == nullptr) return {};
    const char* path = nullptr;
    g_variant_get(r, "(&o)", &path);
    const std::string session = path;
    g_variant_unref(r);
    const std::string sessionInterface = std::string(kService) + ".Session";
    const unsigned subscription = g_dbus_connection_signal_subscribe(
        bus, kService, "org.gnome.Mutter.ScreenCast.Stream", "PipeWireStreamAdded", nullptr,
        nullptr, G_DBUS_SIGNAL_FLAGS_NONE, OnStreamAdded, cast, nullptr);
    for (Capture& c : cast->captures) {
        // The cursor is left out of the picture.
        r = Call(bus, session, sessionInterface.c_str(), "RecordMonitor",
                 g_variant_new_parsed("(%s, {'cursor-mode': <%u>})", c.connector.c_str(), 0u),
                 "(o)", error);
        if (r == nullptr) return session;
        g_variant_get(r, "(&o)", &path);
        c.streamPath = path;
        g_variant_unref(r);
    }
    r = Call(bus, session, sessionInterface.c_str(), "Start", nullptr, "()", error);
    if (r == nullptr) return session;
    g_variant_unref(r);
    const gint64 end = g_get_monotonic_time() + gint64{kDeadlineSeconds} * 1000000;
    for (bool all = false; !all;) {
        all = true;
        for (const Capture& c : cast->captures) all = all && c.sourceNode != SPA_ID_INVALID;
        if (all) break;
        if (g_get_monotonic_time() > end) {
            *error = "no PipeWire stream in time";
            break;
        }
        g_main_context_iteration(nullptr, TRUE);
    }
    g_dbus_connection_signal_unsubscribe(bus, subscription);
    return session;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: %s CONNECTOR FILE [CONNECTOR FILE ...]\n", argv[0]);
        return 1;
    }
    Cast cast;
    for (int i = 1; i + 1 < argc; i += 2) {
        Capture c;
        c.cast = &cast;
        c.connector = argv[i];
        c.file = argv[i + 1];
        cast.captures.push_back(c);
    }
    GError* e = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &e);
    if (bus == nullptr) {
        std::fprintf(stderr, "screen cast: no session bus: %s\n", e->message);
        g_error_free(e);
        return 1;
    }
    std::string error;
    const std::string session = StartSession(bus, &cast, &error);
    if (error.empty()) {
        pw_init(nullptr, nullptr);
        if (!ReadFrames(&cast)) error = cast.error;
        pw_deinit();
    }
    if (!session.empty()) {
        std::string ignored;
        GVariant* r = Call(bus, session, "org.gnome.Mutter.ScreenCast.Session", "Stop", nullptr,
                           "()", &ignored);
        if (r != nullptr) g_variant_unref(r);
    }
    g_object_unref(bus);
    if (!error.empty()) {
        std::fprintf(stderr, "screen cast: %s\n", error.c_str());
        return error.find("ServiceUnknown") != std::string::npos ? 2 : 1;
    }
    return 0;
}
