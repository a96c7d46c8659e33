// The resource script of the Windows program and the window's template tables (from which the
// Qt window is built) describe the same two dialogs: any drift between them fails here.
#include <gtest/gtest.h>

#include <string>

#include "resources/rc_script.h"
#include "resources/template_match.h"

namespace kestrel::test {
namespace {

std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& l : lines)
        all += l + "\n";
    return all;
}

class ResourceScript : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(readTextFile(KESTREL_RC_FILE, &text_)) << KESTREL_RC_FILE;
        std::string error;
        ASSERT_TRUE(parseRcScript(text_, &script_, &error)) << error;
    }
    const RcDialog* dialog(int id) const {
        for (const RcDialog& d : script_.dialogs)
            if (d.id == id) return &d;
        return nullptr;
    }
    // The script with one piece of its text replaced, parsed again.
    RcScript edited(const std::string& from, const std::string& to) const {
        std::string text = text_;
        const size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) text.replace(at, from.size(), to);
        RcScript script;
        std::string error;
        EXPECT_TRUE(parseRcScript(text, &script, &error)) << error;
        return script;
    }

    std::string text_;
    RcScript script_;
};

TEST_F(ResourceScript, HoldsTemplates130And129AndIcon128Only) {
    ASSERT_EQ(script_.dialogs.size(), 2u);
    EXPECT_EQ(script_.dialogs[0].id, 130);
    EXPECT_EQ(script_.dialogs[1].id, 129);
    ASSERT_EQ(script_.icons.size(), 1u);
    EXPECT_EQ(script_.icons[0].id, 128);
    EXPECT_EQ(script_.icons[0].file, "kestrel.ico");
}

TEST_F(ResourceScript, Template130IsTheTableOfTheWindow) {
    const RcDialog* d = dialog(130);
    ASSERT_NE(d, nullptr);
    const auto differences = templateDifferences(*d, dialogTemplate130());
    EXPECT_TRUE(differences.empty()) << joined(differences);
}

TEST_F(ResourceScript, Template129IsTheTableOfTheAlternativeLayout) {
    const RcDialog* d = dialog(129);
    ASSERT_NE(d, nullptr);
    const auto differences = templateDifferences(*d, dialogTemplate129());
    EXPECT_TRUE(differences.empty()) << joined(differences);
}

TEST_F(ResourceScript, BothTemplatesAreCreatedHidden) {
    // The start-up code shows the window with the show state the process was given.
    for (const RcDialog& d : script_.dialogs)
        EXPECT_EQ(d.styles.count("WS_VISIBLE"), 0u) << d.id;
}

// The comparison itself: each kind of drift is reported, naming the control.
TEST_F(ResourceScript, DriftInGeometryTextOrderOrStyleIsReported) {
    struct Drift {
        const char* from;
        const char* to;
        const char* reported;
    };
    const Drift drifts[] = {
        {"105, 115, 74, 23", "105, 116, 74, 23", "control 1 in tab order: geometry"},
        {"\"Use USB Ruvo\", 1008", "\"Use USB Rouvo\", 1008", "text"},
        {"CBS_DROPDOWN | CBS_SORT | CBS_UPPERCASE", "CBS_DROPDOWN | CBS_UPPERCASE", "style"},
        {"ES_LEFT | ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP, 14, 94",
         "ES_LEFT | ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP | WS_HSCROLL, 14, 94",
         "style WS_HSCROLL is not known"},
        {"BS_PUSHBUTTON | WS_TABSTOP | NOT WS_VISIBLE, 227, 124",
         "BS_PUSHBUTTON | WS_TABSTOP, 227, 124", "control 2 in tab order: style"},
        {"CAPTION \"Kestrel (RS232 + USB)\"", "CAPTION \"Kestrel\"", "caption"},
        {"WS_SYSMENU | WS_MINIMIZEBOX\nCAPTION \"Kestrel (RS232",
         "WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX\nCAPTION \"Kestrel (RS232", "window style"},
        {"FONT 8, \"MS Sans Serif\"\nBEGIN\n    CONTROL \"&START\", 1, \"Button\", "
         "BS_DEFPUSHBUTTON | WS_TABSTOP, 105, 115",
         "FONT 9, \"MS Sans Serif\"\nBEGIN\n    CONTROL \"&START\", 1, \"Button\", "
         "BS_DEFPUSHBUTTON | WS_TABSTOP, 105, 115",
         "font"},
    };
    for (const Drift& drift : drifts) {
        const RcScript script = edited(drift.from, drift.to);
        ASSERT_FALSE(script.dialogs.empty());
        const std::string report =
            joined(templateDifferences(script.dialogs[0], dialogTemplate130()));
        EXPECT_NE(report.find(drift.reported), std::string::npos)
            << "drift " << drift.to << " gave:\n"
            << report;
    }
}

TEST_F(ResourceScript, SwappedTabOrderIsReported) {
    RcDialog d = *dialog(130);
    std::swap(d.controls[12], d.controls[13]);  // the two check boxes
    const std::string report = joined(templateDifferences(d, dialogTemplate130()));
    EXPECT_NE(report.find("control 13 in tab order: id is 1009 in the script, 1008 in the table"),
              std::string::npos)
        << report;
}

TEST(RcScriptReader, RefusesWhatItCannotCompare) {
    RcScript script;
    std::string error;
    EXPECT_FALSE(parseRcScript("1 MENU\nBEGIN\nEND\n", &script, &error));
    EXPECT_NE(error.find("line 1"), std::string::npos) << error;
    EXPECT_FALSE(
        parseRcScript("130 DIALOGEX 0, 0, 10, 10\nBEGIN\n  PUSHBUTTON \"x\", 1, 0, 0, "
                      "5, 5\nEND\n",
                      &script, &error));
    EXPECT_NE(error.find("line 3"), std::string::npos) << error;
    EXPECT_FALSE(
        parseRcScript("130 DIALOGEX 0, 0, 10, 10\nCAPTION \"open\nBEGIN\nEND\n", &script, &error));
}

}  // namespace
}  // namespace kestrel::test
