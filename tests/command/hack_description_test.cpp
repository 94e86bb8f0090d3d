// Tests that the screen-saver daemon's description of mereglass
// (src/app/mereglass.xml) agrees with the program: every option it passes
// parses, and its numbers match the settings table's ranges and defaults.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "command/command_line.h"
#include "settings/settings_table.h"

namespace {

std::string ReadDescription() {
    std::ifstream in(MEREGLASS_XML);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The elements <name .../> of the text, each as its attribute text.
std::vector<std::string> Elements(const std::string& text, const std::string& name) {
    std::vector<std::string> out;
    size_t at = 0;
    while ((at = text.find("<" + name + " ", at)) != std::string::npos) {
        const size_t end = text.find('>', at);
        out.push_back(text.substr(at, end - at));
        at = end;
    }
    return out;
}

// The value of attribute `name` in an element, or "" when it has none.
std::string Attribute(const std::string& element, const std::string& name) {
    const std::string key = " " + name + "=\"";
    const size_t at = element.find(key);
    if (at == std::string::npos) return "";
    const size_t start = at + key.size();
    return element.substr(start, element.find('"', start) - start);
}

bool Parses(const std::string& args, CommandLine* cl) {
    std::vector<std::string> words{"mereglass", "--root"};
    std::istringstream in(args);
    for (std::string w; in >> w;) words.push_back(w);
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    std::string error;
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), cl, &error);
}

}  // namespace

TEST(HackDescription, NamesTheProgramAndRunsItOnTheRoot) {
    const std::string xml = ReadDescription();
    ASSERT_FALSE(xml.empty()) << MEREGLASS_XML;
    EXPECT_NE(xml.find("<screensaver name=\"mereglass\" _label=\"Mereglass\" gl=\"yes\">"),
              std::string::npos);
    EXPECT_NE(xml.find("<command arg=\"--root\"/>"), std::string::npos);
    EXPECT_NE(xml.find("<_description>"), std::string::npos);
    EXPECT_NE(xml.find("</screensaver>"), std::string::npos);
}

TEST(HackDescription, EveryOptionItPassesParses) {
    const std::string xml = ReadDescription();
    int checked = 0;
    for (const char* kind : {"boolean", "option"}) {
        for (const std::string& e : Elements(xml, kind)) {
            for (const char* attr : {"arg-set", "arg-unset"}) {
                const std::string args = Attribute(e, attr);
                if (args.empty()) continue;
                CommandLine cl;
                EXPECT_TRUE(Parses(args, &cl)) << args;
                ++checked;
            }
        }
    }
    EXPECT_GE(checked, 8);
}

TEST(HackDescription, NumbersMatchTheSettingsTable) {
    const std::string xml = ReadDescription();
    const std::vector<std::string> numbers = Elements(xml, "number");
    ASSERT_FALSE(numbers.empty());
    for (const std::string& e : numbers) {
        const std::string arg = Attribute(e, "arg");
        const int low = std::stoi(Attribute(e, "low"));
        const int high = std::stoi(Attribute(e, "high"));
        const int def = std::stoi(Attribute(e, "default"));
        for (int value : {low, high, def}) {
            std::string args = arg;
            args.replace(args.find('%'), 1, std::to_string(value));
            CommandLine cl;
            ASSERT_TRUE(Parses(args, &cl)) << args;
            ASSERT_EQ(cl.settings.size(), 1u) << args;
            EXPECT_EQ(cl.settings[0].value, value);
            if (value == def) {
                EXPECT_EQ(def, cl.settings[0].entry->factory) << args;
            }
        }
        EXPECT_LT(low, high);
    }
}

TEST(HackDescription, FolderChooserShowsThatFolder) {
    // An empty chooser passes nothing; a folder is passed as one word.
    const std::vector<std::string> files = Elements(ReadDescription(), "file");
    ASSERT_EQ(files.size(), 1u);
    std::string args = Attribute(files[0], "arg");
    args.replace(args.find('%'), 1, "/srv/pictures");
    CommandLine cl;
    ASSERT_TRUE(Parses(args, &cl)) << args;
    EXPECT_EQ(cl.imageDir, "/srv/pictures");
    UserSettings s = FactorySettings();
    ApplySettingOverrides(cl, &s);
    EXPECT_EQ(s.Picture, ShownPicture::Folder);
}

TEST(HackDescription, DefaultsNeedNoOption) {
    // A widget at its default passes nothing, so the saved settings apply:
    // in each select, the one choice without an option is the factory value,
    // and the others give every other value of one setting.
    const std::string xml = ReadDescription();
    const std::vector<std::string> selects = Elements(xml, "select");
    ASSERT_EQ(selects.size(), 2u);
    for (const std::string& select : selects) {
        const size_t from = xml.find(select);
        const std::string body = xml.substr(from, xml.find("</select>", from) - from);
        const SettingEntry* entry = nullptr;
        std::set<int32_t> values;
        std::string plain;
        for (const std::string& e : Elements(body, "option")) {
            const std::string args = Attribute(e, "arg-set");
            if (args.empty()) {
                EXPECT_TRUE(plain.empty()) << e;
                plain = e;
                continue;
            }
            CommandLine cl;
            ASSERT_TRUE(Parses(args, &cl)) << args;
            ASSERT_EQ(cl.settings.size(), 1u) << args;
            if (entry == nullptr) entry = cl.settings[0].entry;
            EXPECT_EQ(cl.settings[0].entry, entry) << args;
            EXPECT_NE(cl.settings[0].value, entry->factory) << args;
            values.insert(cl.settings[0].value);
        }
        ASSERT_NE(entry, nullptr) << select;
        ASSERT_FALSE(plain.empty()) << select;
        EXPECT_EQ(values.size(), static_cast<size_t>(entry->maximum - entry->minimum)) << select;
        if (entry == FindSetting("WaterRes")) {
            EXPECT_NE(plain.find(std::to_string(1 << entry->factory)), std::string::npos) << plain;
        }
    }
}
