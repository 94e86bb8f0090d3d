// Tests of `mereglass --render`: the real program draws headless on its
// simulated clock, and the test reads the PNG frames back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "child_process.h"

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 192;

struct Frame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // top row first

    const uint8_t* At(int x, int y) const {
        return &rgb[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) *
                    3];
    }
};

bool ReadPng(const std::string& path, Frame* frame) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    frame->width = static_cast<int>(image.width);
    frame->height = static_cast<int>(image.height);
    frame->rgb.resize(PNG_IMAGE_SIZE(image));
    const bool ok = png_image_finish_read(&image, nullptr, frame->rgb.data(), 0, nullptr) != 0;
    png_image_free(&image);
    return ok;
}

// Writes a width × height PNG of one colour.
bool WriteOneColourPng(const std::string& path, int width, int height, uint8_t r, uint8_t g,
                       uint8_t b) {
    std::vector<uint8_t> rgb;
    for (int i = 0; i < width * height; ++i) rgb.insert(rgb.end(), {r, g, b});
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(width);
    png.height = static_cast<png_uint_32>(height);
    png.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&png, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
}

// Pixels in the rectangle of the pale blue of the saver's lettering, which
// the sandy-coloured water never shows.
int LetteringPixels(const Frame& f, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const uint8_t* p = f.At(x, y);
            if (p[2] > 200 && p[2] > p[0] + 10) ++n;
        }
    }
    return n;
}

// Pixels in the rectangle that are not close to black.
int LitPixels(const Frame& f, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const uint8_t* p = f.At(x, y);
            if (p[0] > 60 || p[1] > 60 || p[2] > 60) ++n;
        }
    }
    return n;
}

double MeanLevel(const Frame& f, int x0, int y0, int x1, int y1) {
    double sum = 0.0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const uint8_t* p = f.At(x, y);
            sum += (p[0] + p[1] + p[2]) / 3.0;
        }
    }
    return sum / ((x1 - x0) * (y1 - y0));
}

int DifferingPixels(const Frame& a, const Frame& b) {
    int n = 0;
    for (size_t i = 0; i + 2 < a.rgb.size() && i + 2 < b.rgb.size(); i += 3) {
        if (std::abs(a.rgb[i] - b.rgb[i]) + std::abs(a.rgb[i + 1] - b.rgb[i + 1]) +
                std::abs(a.rgb[i + 2] - b.rgb[i + 2]) >
            24) {
            ++n;
        }
    }
    return n;
}

class Render : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/mereglass-render-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override {
        const std::string rm = "rm -rf '" + dir_ + "'";
        EXPECT_EQ(std::system(rm.c_str()), 0);
    }

    // Runs the program; the settings store goes to a folder of the test.
    int Run(std::vector<std::string> args, std::string* output) {
        args.insert(args.begin(), MEREGLASS_PROGRAM);
        ChildProcess p(MEREGLASS_PROGRAM, args, {"XDG_CONFIG_HOME=" + dir_ + "/config"});
        if (!p.started() || !p.Wait(120.0)) return -1;
        *output = p.Output();
        return p.status();
    }

    std::string FramePath(int n) const {
        char name[32];
        std::snprintf(name, sizeof name, "/frame-%05d.png", n);
        return dir_ + "/out" + name;
    }

    std::string dir_;
};

}  // namespace

// 43 s at 10 frames per second, every 10th frame written: frame n shows the
// scene n seconds after the start.
TEST_F(Render, WritesFramesAndShowsIntroBannerAndCardAtTheirTimes) {
    std::string output;
    ASSERT_EQ(Run({"--render", dir_ + "/out", "--size", "256x192", "--seconds", "43", "--fps", "10",
                   "--every", "10"},
                  &output),
              0)
        << output;
    EXPECT_NE(output.find("430 frames of 256x192"), std::string::npos) << output;
    EXPECT_NE(output.find("frames per second"), std::string::npos);
    EXPECT_NE(output.find("ms CPU per frame"), std::string::npos);

    std::vector<Frame> frames(44);
    for (int n = 1; n <= 43; ++n) {
        ASSERT_TRUE(ReadPng(FramePath(n), &frames[n])) << FramePath(n);
        ASSERT_EQ(frames[n].width, kWidth);
        ASSERT_EQ(frames[n].height, kHeight);
    }
    EXPECT_NE(access(FramePath(44).c_str(), F_OK), 0);

    // The water moves: consecutive seconds differ in many pixels.
    EXPECT_GT(DifferingPixels(frames[1], frames[2]), kWidth * kHeight / 20);
    EXPECT_GT(DifferingPixels(frames[30], frames[31]), kWidth * kHeight / 20);

    // The intro's title (upper middle of the view) shows from about 6 to
    // 13 s, not before and not after.
    const int titleX0 = kWidth / 4, titleX1 = kWidth * 3 / 4;
    const int titleY0 = kHeight / 10, titleY1 = kHeight * 3 / 10;
    const int before = LetteringPixels(frames[3], titleX0, titleY0, titleX1, titleY1);
    const int during = LetteringPixels(frames[9], titleX0, titleY0, titleX1, titleY1);
    const int after = LetteringPixels(frames[14], titleX0, titleY0, titleX1, titleY1);
    EXPECT_GT(during, 4 * before + 40) << before << " " << during;
    EXPECT_GT(during, 4 * after + 40) << after << " " << during;

    // The banner comes in at the top from 15 s and stays until 35 s.
    const int noBanner = LetteringPixels(frames[14], 0, 0, kWidth, 40);
    const int banner = LetteringPixels(frames[20], 0, 0, kWidth, 40);
    const int gone = LetteringPixels(frames[39], 0, 0, kWidth, 40);
    EXPECT_GT(banner, 4 * noBanner + 40) << noBanner << " " << banner;
    EXPECT_GT(banner, 4 * gone + 40) << gone << " " << banner;

    // The first card begins at 40 s: by 43 s the water is black around it.
    EXPECT_GT(MeanLevel(frames[30], 0, 40, kWidth, 80), 60.0);
    EXPECT_LT(MeanLevel(frames[43], 0, 40, kWidth, 80), 3.0);
    EXPECT_LT(MeanLevel(frames[43], 0, 120, kWidth, kHeight), 3.0);
    // Only the card's message is lit: across the middle of the view.
    EXPECT_GT(LitPixels(frames[43], 0, kHeight / 2 - 12, kWidth, kHeight / 2 + 12), 40);
    EXPECT_LT(LitPixels(frames[43], 0, 120, kWidth, kHeight), 5);
}

TEST_F(Render, PreviewDrawsWaterOnly) {
    std::string output;
    ASSERT_EQ(Run({"--render", dir_ + "/out", "--size", "256x192", "--seconds", "9", "--fps", "5",
                   "--every", "45", "--preview"},
                  &output),
              0)
        << output;
    Frame f;
    ASSERT_TRUE(ReadPng(FramePath(1), &f));
    // At 9 s the intro's title would show; in the preview it never does.
    EXPECT_LT(LetteringPixels(f, kWidth / 4, kHeight / 10, kWidth * 3 / 4, kHeight * 3 / 10), 10);
}

TEST_F(Render, ShowsAGivenImage) {
    // A picture of one colour.
    const std::string image = dir_ + "/green.png";
    ASSERT_TRUE(WriteOneColourPng(image, 64, 48, 0x20, 0xd0, 0x30));

    std::string output;
    ASSERT_EQ(Run({"--render", dir_ + "/out", "--size", "256x192", "--seconds", "1", "--fps", "10",
                   "--every", "10", "--image", image},
                  &output),
              0)
        << output;
    Frame frame;
    ASSERT_TRUE(ReadPng(FramePath(1), &frame));
    // Green under the water (lit, so not the exact colour).
    int green = 0;
    for (int y = 40; y < 150; ++y) {
        for (int x = 40; x < 216; ++x) {
            const uint8_t* p = frame.At(x, y);
            if (p[1] > 2 * p[0] && p[1] > 2 * p[2]) ++green;
        }
    }
    EXPECT_GT(green, 110 * 176 * 9 / 10);
}

TEST_F(Render, ShowsAPictureFromTheChosenFolderInItsOwnShape) {
    // A tall green picture, the only one in the folder: on a 4:3 frame it
    // fills the middle half, with black on either side.
    const std::string folder = dir_ + "/pictures";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    std::vector<uint8_t> green(48 * 96 * 3);
    for (size_t i = 0; i < green.size(); i += 3) green[i + 1] = 0xd0;
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = 48;
    png.height = 96;
    png.format = PNG_FORMAT_RGB;
    ASSERT_TRUE(
        png_image_write_to_file(&png, (folder + "/tall.png").c_str(), 0, green.data(), 0, nullptr));

    const std::vector<std::string> frame = {"--render",  dir_ + "/out", "--size",        "256x192",
                                            "--seconds", "1",           "--fps",         "10",
                                            "--every",   "10",          "--no-want-bowl"};
    // Once from the saved settings, once from the command line.
    std::filesystem::create_directories(dir_ + "/config/mereglass");
    std::ofstream(dir_ + "/config/mereglass/tkMereglass.conf")
        << "[tkMereglass]\nversion=1.0.1\nPicture=1\nPictureFolder=" << folder << "\n";
    for (bool saved : {true, false}) {
        SCOPED_TRACE(saved ? "saved" : "--image-dir");
        std::vector<std::string> args = frame;
        if (!saved) {
            std::ofstream(dir_ + "/config/mereglass/tkMereglass.conf")
                << "[tkMereglass]\nversion=1.0.1\n";
            args.insert(args.end(), {"--image-dir", folder});
        }
        std::string output;
        ASSERT_EQ(Run(args, &output), 0) << output;
        EXPECT_NE(output.find(folder + "/tall.png"), std::string::npos) << output;
        Frame f;
        ASSERT_TRUE(ReadPng(FramePath(1), &f));
        int greenInside = 0;
        for (int y = 40; y < 150; ++y) {
            for (int x = 100; x < 156; ++x) {
                const uint8_t* p = f.At(x, y);
                greenInside += p[1] > 2 * p[0] && p[1] > 2 * p[2];
            }
        }
        EXPECT_GT(greenInside, 110 * 56 * 9 / 10);
        EXPECT_LT(MeanLevel(f, 0, 40, 60, 150), 40.0);
        EXPECT_LT(MeanLevel(f, 196, 40, 256, 150), 40.0);
    }
}

// A frame that cannot be written whole (a file size limit that makes the
// write fail, or a folder in the way of its name) leaves no partial file,
// ends the run with status 1 and is not counted as written.
TEST_F(Render, AFrameThatCannotBeWrittenIsRemovedAndNotCounted) {
    namespace fs = std::filesystem;
    const std::string out = dir_ + "/out";
    // 8 blocks of 512 bytes: less than a frame of 256 × 192.
    const std::string program = MEREGLASS_PROGRAM;
    ChildProcess limited(
        "/bin/sh",
        {"sh", "-c", "ulimit -f 8 && trap '' XFSZ && exec \"$0\" \"$@\"", program, "--render", out,
         "--size", "256x192", "--seconds", "1", "--fps", "10", "--every", "5"},
        {"XDG_CONFIG_HOME=" + dir_ + "/config"});
    ASSERT_TRUE(limited.Wait(120.0));
    std::string output = limited.Output();
    EXPECT_EQ(limited.status(), 1) << output;
    EXPECT_NE(output.find("mereglass: " + FramePath(1) + ": File too large\n"), std::string::npos)
        << output;
    EXPECT_NE(output.find("; 0 written to " + out + "\n"), std::string::npos) << output;
    EXPECT_TRUE(fs::is_empty(out)) << output;

    // The first frame is written; the second's name is taken by a folder.
    fs::remove_all(out);
    fs::create_directories(FramePath(2));
    EXPECT_EQ(
        Run({"--render", out, "--size", "64x48", "--seconds", "1", "--fps", "10", "--every", "5"},
            &output),
        1);
    EXPECT_NE(output.find("mereglass: " + FramePath(2) + ": Is a directory\n"), std::string::npos)
        << output;
    EXPECT_NE(output.find("; 1 written to " + out + "\n"), std::string::npos) << output;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(out)) names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{FramePath(1), FramePath(2)}));
    Frame frame;
    EXPECT_TRUE(ReadPng(FramePath(1), &frame));
}

// A named pipe in the place of a frame's partial file neither blocks the
// run nor is removed: one line, status 1. A folder whose name leaves no
// room under PATH_MAX for a frame's still gets its frames, named in full.
TEST_F(Render, APipeInAPartialFilesPlaceOrALongFolderNameNeverMisleadsIt) {
    std::string output, deep = dir_;
    const auto render = [&](const std::string& folder) {
        return Run({"--render", folder, "--size", "64x48", "--seconds", "1", "--every", "30"},
                   &output);
    };
    ASSERT_EQ(mkdir((dir_ + "/out").c_str(), 0700), 0);
    ASSERT_EQ(mkfifo((FramePath(1) + ".part").c_str(), 0600), 0);
    EXPECT_EQ(render(dir_ + "/out"), 1) << output;
    EXPECT_NE(output.find("mereglass: " + FramePath(1) + ".part: not a regular file\n"),
              std::string::npos)
        << output;
    struct stat st {};
    EXPECT_TRUE(lstat((FramePath(1) + ".part").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));

    while (deep.size() < 4090)
        deep += "/" + std::string(std::min<size_t>(200, 4089 - deep.size()), 'd');
    ASSERT_EQ(std::system(("mkdir -p '" + deep + "'").c_str()), 0);
    EXPECT_EQ(render(deep), 0) << output;
    namespace fs = std::filesystem;
    std::vector<std::string> names;  // the frame's path is longer than PATH_MAX
    for (const auto& entry : fs::directory_iterator(deep)) names.push_back(entry.path().filename());
    EXPECT_EQ(names, (std::vector<std::string>{"frame-00001.png"}));
}

TEST_F(Render, BadFolderAndBadOptionsFail) {
    std::string output;
    EXPECT_EQ(Run({"--render", "/proc/no/such/folder"}, &output), 1);
    EXPECT_NE(output.find("/proc/no/such/folder"), std::string::npos) << output;
    EXPECT_EQ(Run({"--render", dir_ + "/out", "--size", "0x10"}, &output), 1);
    EXPECT_NE(output.find("Usage"), std::string::npos);
    EXPECT_EQ(Run({"--help"}, &output), 0);
    EXPECT_NE(output.find("--render DIR"), std::string::npos);
}

// Stopped by a signal, the run tears its view down, reports, and then ends
// by that signal.
TEST_F(Render, StopSignalEndsTheRunByTheSignal) {
    const std::string program = MEREGLASS_PROGRAM;
    for (int signal : {SIGTERM, SIGINT}) {
        unlink(FramePath(1).c_str());
        ChildProcess p(program,
                       {program, "--render", dir_ + "/out", "--size", "64x48", "--seconds", "3600",
                        "--every", "1"},
                       {"XDG_CONFIG_HOME=" + dir_ + "/config"});
        ASSERT_TRUE(p.started());
        // The run is under way once its first frame is written.
        struct stat st {};
        for (int i = 0; i < 3000 && stat(FramePath(1).c_str(), &st) != 0; ++i) usleep(10000);
        ASSERT_EQ(stat(FramePath(1).c_str(), &st), 0) << p.Output();
        ASSERT_TRUE(p.Signal(signal));
        ASSERT_TRUE(p.Wait(30.0));
        EXPECT_EQ(p.endSignal(), signal) << p.Output();
        EXPECT_NE(p.Output().find("frames of 64x48"), std::string::npos) << p.Output();
    }
}

TEST_F(Render, WithoutADisplayTheWindowModesSayWhy) {
    const std::string program = MEREGLASS_PROGRAM;
    for (const char* mode : {"-window", "-root", "--fullscreen", "--configure"}) {
        ChildProcess p(
            program, {program, mode},
            {"DISPLAY=:9999", "WAYLAND_DISPLAY=", "XDG_CONFIG_HOME=" + dir_ + "/config"});
        ASSERT_TRUE(p.Wait(30.0)) << mode;
        EXPECT_EQ(p.status(), 1) << mode << ": " << p.Output();
        EXPECT_NE(p.Output().find("mereglass: "), std::string::npos) << mode << ": " << p.Output();
        EXPECT_EQ(p.Output().find("Sanitizer"), std::string::npos) << p.Output();
    }
}

namespace {

enum class Hostile { Pipe, Folder, DeviceLink, Huge, Empty };

// Puts a hostile thing at `path`: a named pipe nobody writes, a folder, a
// link to an endless device, a (sparse) 5 GiB file, an empty file.
bool MakeHostile(Hostile kind, const std::string& path) {
    switch (kind) {
        case Hostile::Pipe:
            return mkfifo(path.c_str(), 0600) == 0;
        case Hostile::Folder:
            return mkdir(path.c_str(), 0700) == 0;
        case Hostile::DeviceLink:
            return symlink("/dev/zero", path.c_str()) == 0;
        case Hostile::Huge:
        case Hostile::Empty: {
            const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
            if (fd < 0) return false;
            const bool ok = kind == Hostile::Empty || ftruncate(fd, off_t{5} << 30) == 0;
            close(fd);
            return ok;
        }
    }
    return false;
}

// The lines of `output` that contain `text`.
int LinesWith(const std::string& output, const std::string& text) {
    int n = 0;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        if (output.substr(start, end - start).find(text) != std::string::npos) ++n;
        start = end + 1;
    }
    return n;
}

}  // namespace

// Each file a user can hand the program (the settings file, an image, the
// archive) replaced by something hostile: the program neither blocks nor
// loses a file, says so in one line, and shows the desktop under the water.
TEST_F(Render, HostileFilesNeitherBlockNorLoseAnything) {
    namespace fs = std::filesystem;
    // The archive is looked for beside the program: a copy of it gets the
    // hostile archive.
    const std::string bin = dir_ + "/bin";
    fs::create_directories(bin);
    fs::copy_file(MEREGLASS_PROGRAM, bin + "/mereglass");
    const bool installedArchive = fs::exists(MEREGLASS_INSTALLED_ARCHIVE);

    std::string output;
    ASSERT_EQ(Run({"--render", dir_ + "/out", "--size", "256x192", "--seconds", "1", "--fps", "10",
                   "--every", "10"},
                  &output),
              0)
        << output;
    Frame baseline;
    ASSERT_TRUE(ReadPng(FramePath(1), &baseline));
    const double usual = MeanLevel(baseline, 64, 48, 192, 144);

    const char* const kindNames[] = {"pipe", "folder", "link to /dev/zero", "huge", "empty"};
    int n = 0;
    for (const char* target : {"settings", "image", "archive"}) {
        for (Hostile kind :
             {Hostile::Pipe, Hostile::Folder, Hostile::DeviceLink, Hostile::Huge, Hostile::Empty}) {
            const std::string name = std::string(target) + ", " + kindNames[int(kind)];
            SCOPED_TRACE(name);
            const std::string run = dir_ + "/case" + std::to_string(n++);
            const std::string config = run + "/config/mereglass";
            fs::create_directories(config);
            const std::string settings = config + "/tkMereglass.conf";
            std::ofstream(settings + ".bad") << "an earlier copy";

            const bool isSettings = target == std::string("settings");
            const bool isImage = target == std::string("image");
            const std::string path = isSettings ? settings
                                     : isImage  ? run + "/picture.png"
                                                : bin + "/murkle.respak";
            ASSERT_TRUE(MakeHostile(kind, path)) << path;

            const std::string program =
                isSettings || isImage ? MEREGLASS_PROGRAM : bin + "/mereglass";
            std::vector<std::string> args = {program,   "--render",  run + "/out", "--size",
                                             "256x192", "--seconds", "1",          "--fps",
                                             "10",      "--every",   "10"};
            if (isImage) args.insert(args.end(), {"--image", path});
            ChildProcess p(program, args, {"XDG_CONFIG_HOME=" + run + "/config"});
            ASSERT_TRUE(p.Wait(60.0)) << "still running";
            output = p.Output();
            EXPECT_EQ(p.status(), 0) << output;

            // One line about the file, saying what is used instead.
            if (isSettings) {
                if (kind == Hostile::Empty) {
                    EXPECT_EQ(LinesWith(output, "settings"), 0) << output;
                } else {
                    EXPECT_EQ(LinesWith(output, "settings file " + path + " cannot be read ("), 1)
                        << output;
                    // A link stays, and what it names too.
                    const std::string instead =
                        kind == Hostile::DeviceLink
                            ? "left as it is (it is a link to /dev/zero), factory settings used"
                            : "kept as " + path + ".bad.1, factory settings used";
                    EXPECT_EQ(LinesWith(output, instead), 1) << output;
                }
            } else if (isImage) {
                EXPECT_EQ(LinesWith(output, "cannot use the image " + path + ": "), 1) << output;
                EXPECT_EQ(LinesWith(output, "showing the built-in picture"), 1) << output;
            } else if (kind == Hostile::Huge || kind == Hostile::Empty) {
                EXPECT_EQ(LinesWith(output, "cannot read " + path +
                                                "; the water runs without its pictures"),
                          1)
                    << output;
            } else if (!installedArchive) {
                EXPECT_EQ(LinesWith(output, "cannot find murkle.respak; the water runs without"), 1)
                    << output;
            }

            // The picture under the water is the usual one, not a white or
            // black pool.
            Frame frame;
            const std::string first = run + "/out/frame-00001.png";
            ASSERT_TRUE(ReadPng(first, &frame)) << first;
            EXPECT_NEAR(MeanLevel(frame, 64, 48, 192, 144), usual, 20.0);

            // Nothing is lost: the earlier copy stays, the hostile thing is
            // where it was or set aside as the next copy.
            std::ifstream earlier(settings + ".bad");
            std::string text;
            std::getline(earlier, text);
            EXPECT_EQ(text, "an earlier copy");
            const bool setAside =
                isSettings && kind != Hostile::Empty && kind != Hostile::DeviceLink;
            const std::string kept = setAside ? path + ".bad.1" : path;
            struct stat st {};
            ASSERT_EQ(lstat(kept.c_str(), &st), 0) << kept;
            switch (kind) {
                case Hostile::Pipe:
                    EXPECT_TRUE(S_ISFIFO(st.st_mode));
                    break;
                case Hostile::Folder:
                    EXPECT_TRUE(S_ISDIR(st.st_mode));
                    break;
                case Hostile::DeviceLink:
                    EXPECT_TRUE(S_ISLNK(st.st_mode));
                    break;
                case Hostile::Huge:
                    EXPECT_EQ(st.st_size, off_t{5} << 30);
                    break;
                case Hostile::Empty:
                    break;
            }
            if (!isSettings) fs::remove(path);
        }
    }
}
