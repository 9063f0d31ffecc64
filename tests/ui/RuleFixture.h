// The rules folder and settings the rule tests start from: a system file
// with "Junk" and "Bulk", a user file with "Mine" and "a/b", and no rule
// settings in the hive.
#pragma once

#include "common/CRegistry.h"
#include "common/ProgramContext.h"
#include "ui/SettingsKey.h"

#include "support/TestHelpers.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ModalDriver.h"

inline const char* const kSystemRules = "The shipped rules; text outside blocks is ignored.\n"
                                        "#rule \"Junk\" 30\n"
                                        "if headerfieldexists(\"X-Junk\") then\n"
                                        "  isspam()\n"
                                        "endif\n"
                                        "#endrule\n"
                                        "#rule \"Bulk\" 20\n"
                                        "isspam()\n"
                                        "#endrule\n";

inline const char* const kUserRules = "#rule \"Mine\" 40\n"
                                      "isspam()\n"
                                      "#endrule\n"
                                      "#rule \"a%2fb\"\n"
                                      "// slash rule\n"
                                      "#endrule\n";

class RuleFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        rules = programContext().dataRoot + "/rules";
        std::filesystem::create_directories(rules);
        std::filesystem::remove_all(rules + "/user.sfr_temp");
        writeFile(systemPath(), kSystemRules);
        writeFile(userPath(), kUserRules);
        CRegistry reg;
        ASSERT_TRUE(openSettingsKey(reg));
        for (const char* name : {"RuleOrder", "DisabledRules", "EditorPos", "TestMessageFolder"})
            reg.DeleteValue(name);
        reg.DeleteKey("priority");
    }

    std::string systemPath() const { return rules + "/system.sfr"; }
    std::string userPath() const { return rules + "/user.sfr"; }
    std::string userText() const { return readFile(userPath()); }

    static std::string setting(const char* name)
    {
        CRegistry reg;
        std::string value;
        if (!reg.OpenKey(programContext().settingsHive, "quilfpro", "/", false) || !reg.QueryValue(name, value))
            return "<missing>";
        return value;
    }

    static CRegistry::StringList listSetting(const char* name)
    {
        CRegistry reg;
        CRegistry::StringList value;
        EXPECT_TRUE(reg.OpenKey(programContext().settingsHive, "quilfpro", "/", false));
        EXPECT_TRUE(reg.QueryValue(name, value)) << name;
        return value;
    }

    // The text of the settings hive file on disk (family eRegUser).
    static std::string hiveFileText()
    {
        const std::filesystem::path home = std::filesystem::path(programContext().dataRoot).parent_path();
        for (const auto& entry : std::filesystem::recursive_directory_iterator(home))
            if (entry.is_regular_file() && entry.path().filename() == "quilfpro_usr.dat")
                return readFile(entry.path().string());
        return "<no hive file under " + home.string() + ">";
    }

    std::string rules;
};

// Answers the message boxes that come, one after another, with buttons in
// order from index on; what each showed is appended to seen.
inline void answerBoxesFrom(std::shared_ptr<std::vector<ModalDriver::Seen>> seen,
                            std::vector<QMessageBox::StandardButton> buttons, size_t index)
{
    if (index >= buttons.size())
        return;
    ModalDriver::onNextModal([seen, buttons, index](QWidget* modal) {
        ModalDriver::Seen one;
        one.came = true;
        one.caption = modal->windowTitle();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            one.text = box->text();
            one.icon = box->icon();
            seen->push_back(one);
            box->button(buttons[index])->click();
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            seen->push_back(one);
            dialog->reject();
        }
        answerBoxesFrom(seen, buttons, index + 1);
    });
}

inline std::shared_ptr<std::vector<ModalDriver::Seen>> answerBoxes(std::vector<QMessageBox::StandardButton> buttons)
{
    auto seen = std::make_shared<std::vector<ModalDriver::Seen>>();
    answerBoxesFrom(seen, std::move(buttons), 0);
    return seen;
}
