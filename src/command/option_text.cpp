// What the option table says to a reader: the --help list and the manual
// page's option list, the setting options' lines among them drawn from the
// settings table. --help is in the user's language (support/translation.h),
// the manual page in English.
#include <cstring>
#include <string>

#include "command/command_line.h"
#include "support/translation.h"

namespace {

// --help's text starts in this column, and goes on in it after a line break.
constexpr size_t kHelpColumn = 24;
// The same for the setting options, whose names are longer.
constexpr size_t kSettingHelpColumn = 31;

// Every occurrence of `from` in `text` replaced by `to`.
std::string Replaced(std::string text, const char* from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, std::strlen(from), to);
        at += to.size();
    }
    return text;
}

// A name for roff: its dashes are minus signs.
std::string Roff(const std::string& text) { return Replaced(text, "-", "\\-"); }

// `left` padded to the column (at least one space after it), then `text`,
// whose later lines start in the column too.
std::string HelpLine(std::string left, size_t column, const std::string& text) {
    left = "  " + left;
    // A name too long for the column has its text on the next line.
    if (left.size() + 1 < column) {
        left.resize(column - 1, ' ');
    } else {
        left += "\n" + std::string(column - 1, ' ');
    }
    return left + " " + Replaced(text, "\n", "\n" + std::string(column, ' ')) + "\n";
}

std::string SettingHelp(const SettingEntry& entry) {
    std::string option = "--";
    if (entry.kind == SettingKind::Bool) {
        option += "[no-]" + SettingOptionName(entry);
    } else {
        option += SettingOptionName(entry) + " " + std::to_string(entry.minimum) + ".." +
                  std::to_string(entry.maximum);
    }
    std::string label = _(entry.label);
    if (entry.style == SettingControl::Hundredths) {
        const size_t unit = label.find(" (s)");
        if (unit != std::string::npos) label.erase(unit);
        label = Format(_("%s in 1/100 s"), label.c_str());
    } else if (entry.style == SettingControl::GridSide) {
        label = Format(_("%s, 2^N points a side"), label.c_str());
    } else if (entry.style == SettingControl::Choice) {
        for (int32_t v = entry.minimum; v <= entry.maximum; ++v) {
            label += (v == entry.minimum ? ": " : ", ") + std::to_string(v) + " " +
                     _(entry.choices[v - entry.minimum]);
        }
    }
    if (entry.kind == SettingKind::Integer) {
        label += " (" + std::to_string(entry.factory) + ")";
    } else {
        label = Format(entry.factory != 0 ? _("%s (on)") : _("%s (off)"), label.c_str());
    }
    return HelpLine(option, kSettingHelpColumn, label);
}

// The tag line of an option's .TP paragraph.
std::string ManualTag(const OptionEntry& entry) {
    if (entry.argument == nullptr) return ".B " + Roff(entry.shown);
    if (entry.manualArgument != nullptr)
        return ".BI " + Roff(entry.shown) + " " + entry.manualArgument;
    return ".BI " + Roff(entry.shown) + " \" " + entry.argument + "\"";
}

std::string SettingManualParagraph(const SettingEntry& entry) {
    const char* text = entry.manual;
    const std::string name = Roff(SettingOptionName(entry));
    std::string out = entry.kind == SettingKind::Bool ? ".B \\-\\-[no\\-]" + name + "\n"
                                                      : ".BI \\-\\-" + name + " \" N\"\n";
    std::string factory = std::to_string(entry.factory);
    if (entry.kind == SettingKind::Bool) factory = entry.factory != 0 ? "on" : "off";
    out += Replaced(Replaced(Replaced(text, "@MIN@", std::to_string(entry.minimum)), "@MAX@",
                             std::to_string(entry.maximum)),
                    "@FACTORY@", factory);
    return ".TP\n" + out + "\n";
}

}  // namespace

std::string UsageText() {
    std::string text =
        _("Usage: mereglass [options]\n"
          "Shows the desktop under a pool of rippling water.\n");
    for (size_t group = 0; group < kOptionGroupCount; ++group) {
        text += "\n" + Format(_("%s:"), _(kOptionGroups[group].help)) + "\n";
        for (const OptionEntry& entry : kOptions) {
            if (entry.group != group) continue;
            std::string left = entry.shown;
            if (entry.argument != nullptr) left += std::string(" ") + entry.argument;
            text += HelpLine(left, kHelpColumn, _(entry.help));
        }
    }
    for (const SettingEntry& entry : kSettings) text += SettingHelp(entry);
    return text;
}

std::string ManualOptions() {
    std::string text;
    for (size_t group = 0; group < kOptionGroupCount; ++group) {
        const OptionGroup& g = kOptionGroups[group];
        text += std::string(".SS ") + g.manual + "\n";
        if (g.manualBefore != nullptr) text += std::string(g.manualBefore) + "\n";
        for (const OptionEntry& entry : kOptions) {
            if (entry.group != group) continue;
            text += ".TP\n" + ManualTag(entry) + "\n" + entry.manual + "\n";
        }
        if (g.manualAfter != nullptr) text += std::string(g.manualAfter) + "\n";
    }
    for (const SettingEntry& entry : kSettings) text += SettingManualParagraph(entry);
    return text;
}
