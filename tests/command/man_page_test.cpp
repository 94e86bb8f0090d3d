// Tests that the manual page (written from docs/mereglass.6.in by the build)
// lists the same options as `mereglass --help`, which prints UsageText().
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "command/command_line.h"

namespace {

// "--[no-]water-speed" and "-water-speed" both give "[no-]water-speed".
std::string WithoutDashes(const std::string& option) {
    return option.substr(option.find_first_not_of('-'));
}

// The options --help lists: the first word of every line that starts with
// two spaces and a dash, sorted; an option listed twice ("-fps" and
// "--fps F") counts twice.
std::vector<std::string> HelpOptions() {
    std::vector<std::string> out;
    std::istringstream in(UsageText());
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("  -", 0) != 0) continue;
        out.push_back(WithoutDashes(line.substr(2, line.find(' ', 2) - 2)));
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The tags of the OPTIONS section's .TP paragraphs, each its first word
// without font escapes or dashes, sorted.
std::vector<std::string> ManPageOptions(const std::string& page) {
    std::vector<std::string> out;
    std::istringstream in(page);
    bool inOptions = false, tagNext = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(".SH", 0) == 0) inOptions = line == ".SH OPTIONS";
        if (!inOptions) continue;
        if (tagNext) {
            std::istringstream words(line);
            std::string word;
            words >> word;
            if (!word.empty() && word[0] == '.') words >> word;  // .B, .BI ...
            std::string plain;
            for (size_t i = 0; i < word.size(); ++i) {
                if (word[i] == '\\' && i + 1 < word.size() && word[i + 1] == 'f') {
                    i += 2;  // \fB, \fI, \fR
                } else if (word[i] != '\\' && word[i] != '"') {
                    plain += word[i];
                }
            }
            out.push_back(WithoutDashes(plain));
        }
        tagNext = line == ".TP";
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

TEST(ManPage, ListsTheOptionsThatHelpLists) {
    std::ifstream in(MEREGLASS_MAN_PAGE);
    std::stringstream page;
    page << in.rdbuf();
    ASSERT_FALSE(page.str().empty()) << MEREGLASS_MAN_PAGE;

    const std::vector<std::string> help = HelpOptions();
    EXPECT_GE(help.size(), 20u);
    EXPECT_EQ(ManPageOptions(page.str()), help);
}

// A setting's paragraph has its own words with its range and factory value
// filled in, not the dialog's label and no placeholder.
TEST(ManPage, SettingParagraphsAreWrittenOut) {
    const std::string options = ManualOptions();
    EXPECT_EQ(options.find('@'), std::string::npos);
    for (const SettingEntry& entry : kSettings) {
        EXPECT_EQ(options.find(std::string("\n") + entry.label + "\n"), std::string::npos)
            << entry.key;
    }
    EXPECT_NE(options.find("Wave speed in percent, 10 to 400 (100)."), std::string::npos);
}
