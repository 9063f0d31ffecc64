// The "Rules" tab: the list it shows, New, Copy, Delete and Rename on the
// real user.sfr, and what OK stores in the settings.
#include "RuleFixture.h"

#include "filter/RuleStore.h"
#include "ui/CRulesPage.h"
#include "ui/RuleEditor.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

namespace {

class RulesPageTest : public RuleFixture
{
protected:
    void load()
    {
        page = std::make_unique<CRulesPage>();
        page->ensureInitialised();
    }
    QTreeWidgetItem* row(const char* name)
    {
        QTreeWidgetItem* item = page->row(name);
        EXPECT_NE(item, nullptr) << "no row " << name;
        return item;
    }
    void select(std::initializer_list<const char*> names)
    {
        page->list()->clearSelection();
        for (const char* name : names)
            row(name)->setSelected(true);
        page->list()->setCurrentItem(row(*names.begin()), 0, QItemSelectionModel::NoUpdate);
    }

    std::unique_ptr<CRulesPage> page;
};

TEST_F(RulesPageTest, ListsSystemThenUserRulesInRuleOrderWithRatingsAndDisabledState)
{
    {
        CRegistry reg;
        ASSERT_TRUE(openSettingsKey(reg));
        reg.SetValue("RuleOrder", CRegistry::StringList{"mine", "Gone", "Bulk"});
        reg.SetValue("DisabledRules", CRegistry::StringList{"Bulk", "Gone"});
        CRegistry priorities;
        ASSERT_TRUE(openSettingsKey(priorities, "/priority"));
        priorities.SetValue("a%2fb", 25u);
        priorities.SetValue("Bulk", 70u);
    }
    load();
    EXPECT_EQ(page->list()->headerItem()->text(0), "Rules");
    EXPECT_EQ(page->list()->headerItem()->text(1), "Rating");
    const struct {
        const char* name;
        const char* rating;
        bool user;
        bool enabled;
    } want[] = {
        {"Mine", "4.0", true, true},   // named in RuleOrder (any case)
        {"Bulk", "7.0", false, false}, // "Gone" has no rule and no row
        {"Junk", "3.0", false, true},  // the rest in file order
        {"a/b", "2.5", true, true},
    };
    ASSERT_EQ(page->list()->topLevelItemCount(), 4);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(want[i].name);
        const QTreeWidgetItem* item = page->list()->topLevelItem(i);
        EXPECT_EQ(item->text(0), want[i].name);
        EXPECT_EQ(item->text(1), want[i].rating);
        EXPECT_EQ(CRulesPage::isUserRule(item), want[i].user);
        EXPECT_EQ(CRulesPage::isEnabled(item), want[i].enabled);
    }
}

TEST_F(RulesPageTest, NewRulesTakeTheFirstFreeNumbers)
{
    writeFile(userPath(), std::string(kUserRules) + "#rule \"<New user rule #1>\"\n#endrule\n"
                                                    "#rule \"<New user rule #3>\"\n#endrule\n");
    load();
    const std::string before = userText();
    page->newButton()->click();
    page->newButton()->click();
    EXPECT_EQ(userText(), before + "\n#rule \"<New user rule #2>\"\n\n#endrule\n"
                                   "\n#rule \"<New user rule #4>\"\n\n#endrule\n");
    for (const char* name : {"<New user rule #2>", "<New user rule #4>"}) {
        SCOPED_TRACE(name);
        QTreeWidgetItem* item = row(name);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->text(1), "5.0");
        EXPECT_TRUE(CRulesPage::isUserRule(item));
        EXPECT_TRUE(CRulesPage::isEnabled(item));
    }
    EXPECT_EQ(page->list()->topLevelItemCount(), 8);
    EXPECT_FALSE(std::filesystem::exists(rules + "/user.sfr_temp"));
}

TEST_F(RulesPageTest, CopyingTwiceNumbersTheCopiesAndCopiesBodyRatingAndState)
{
    load();
    row("Junk")->setCheckState(0, Qt::Unchecked);
    select({"Junk"});
    page->copyButton()->click();
    select({"Junk"});
    page->copyButton()->click();
    const std::string junkBody = "if headerfieldexists(\"X-Junk\") then\n  isspam()\nendif\n#endrule\n";
    EXPECT_EQ(userText(), std::string(kUserRules) + "#rule \"Junk - Copy #1\"\n" + junkBody +
                              "#rule \"Junk - Copy #2\"\n" + junkBody);
    for (const char* name : {"Junk - Copy #1", "Junk - Copy #2"}) {
        SCOPED_TRACE(name);
        QTreeWidgetItem* item = row(name);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->text(1), "3.0");
        EXPECT_TRUE(CRulesPage::isUserRule(item));
        EXPECT_FALSE(CRulesPage::isEnabled(item));
    }
    // A user rule's copy comes from user.sfr, its name encoded.
    select({"a/b"});
    page->copyButton()->click();
    EXPECT_NE(userText().find("#rule \"a%2fb - Copy #1\"\n// slash rule\n#endrule\n"), std::string::npos)
        << userText();
    EXPECT_NE(page->row("a/b - Copy #1"), nullptr);
}

TEST_F(RulesPageTest, ARuleNamedWithASlashIsFoundForEditingRenamingAndDeleting)
{
    load();
    ASSERT_NE(userText().find("#rule \"a%2fb\"\n"), std::string::npos);
    {
        RuleEditor editor("a/b", "2.0", true, true);
        EXPECT_TRUE(editor.bodyLoaded());
        EXPECT_EQ(editor.editor()->toPlainText(), "// slash rule\n");
    }
    // In-place editing of the label, as the list's editor commits it.
    row("a/b")->setText(0, "  c/d%\"q\" ");
    EXPECT_EQ(page->names(), (QStringList{"Junk", "Bulk", "Mine", "c/d%\"q\""}));
    EXPECT_EQ(userText(), "#rule \"Mine\" 40\nisspam()\n#endrule\n"
                          "#rule \"c%2fd%25%22q%22\"\n// slash rule\n#endrule\n");
    {
        RuleEditor editor("c/d%\"q\"", "2.0", true, true);
        EXPECT_EQ(editor.editor()->toPlainText(), "// slash rule\n");
    }
    select({"c/d%\"q\""});
    auto seen = ModalDriver::pressOnNextBox(QMessageBox::Yes);
    page->deleteButton()->click();
    EXPECT_TRUE(seen->came);
    EXPECT_EQ(userText(), "#rule \"Mine\" 40\nisspam()\n#endrule\n");
    EXPECT_EQ(page->names(), (QStringList{"Junk", "Bulk", "Mine"}));
}

TEST_F(RulesPageTest, DeletingAMixedSelectionAsksOnlyAboutUserRules)
{
    load();
    select({"Junk", "Mine", "Bulk", "a/b"});
    auto seen = answerBoxes({QMessageBox::Yes, QMessageBox::No});
    page->deleteButton()->click();
    ASSERT_EQ(seen->size(), 2u);
    EXPECT_EQ((*seen)[0].text, "Are you sure you wish to delete rule\nMine?");
    EXPECT_EQ((*seen)[1].text, "Are you sure you wish to delete rule\na/b?");
    for (const auto& box : *seen) {
        EXPECT_EQ(box.caption, "Quillfence Pro");
        EXPECT_EQ(box.icon, QMessageBox::Question);
    }
    EXPECT_EQ(page->names(), (QStringList{"Junk", "Bulk", "a/b"}));
    EXPECT_EQ(userText(), "#rule \"a%2fb\"\n// slash rule\n#endrule\n");
    EXPECT_EQ(readFile(systemPath()), kSystemRules);
}

TEST_F(RulesPageTest, RenamingIsRefusedForANameInUseOrWithALineBreak)
{
    load();
    const struct {
        const char* name;
        const char* message;
    } refused[] = {
        {" Junk ", "Rule of that name already exists"},
        {"a/b", "Rule of that name already exists"},
        {"BULK", "Rule of that name already exists"},
        {"two\nlines", "A rule name cannot contain a line break"},
        {"carriage\rreturn", "A rule name cannot contain a line break"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        auto seen = ModalDriver::pressOnNextBox(QMessageBox::Ok);
        EXPECT_FALSE(page->renameRule(row("Mine"), c.name));
        EXPECT_TRUE(seen->came);
        EXPECT_EQ(seen->caption, "Quillfence Pro");
        EXPECT_EQ(seen->text, c.message);
        EXPECT_EQ(seen->icon, QMessageBox::Critical);
        EXPECT_EQ(userText(), kUserRules);
        EXPECT_NE(page->row("Mine"), nullptr);
    }
    // Blank and unchanged names change nothing and say nothing.
    EXPECT_FALSE(page->renameRule(row("Mine"), "   "));
    EXPECT_FALSE(page->renameRule(row("Mine"), "Mine"));
    // System rules are not renamed.
    EXPECT_FALSE(page->renameRule(row("Junk"), "Other"));
    EXPECT_EQ(userText(), kUserRules);
    EXPECT_TRUE(page->renameRule(row("Mine"), "Yours"));
    EXPECT_EQ(userText().substr(0, 18), "#rule \"Yours\"\nissp");
}

TEST_F(RulesPageTest, OkStoresRatingsUnderEncodedNamesThenOrderAndDisabledRules)
{
    {
        CRegistry priorities;
        ASSERT_TRUE(openSettingsKey(priorities, "/priority"));
        priorities.SetValue("Stale", 90u);
    }
    load();
    row("a/b")->setText(1, "2.5");
    row("Junk")->setText(1, "0.7");
    row("Mine")->setCheckState(0, Qt::Unchecked);
    row("Bulk")->setCheckState(0, Qt::Unchecked);
    // a/b to the top.
    QTreeWidget* list = page->list();
    list->insertTopLevelItem(0, list->takeTopLevelItem(list->indexOfTopLevelItem(row("a/b"))));
    EXPECT_TRUE(page->onOK());

    CRegistry priorities;
    ASSERT_TRUE(priorities.OpenKey(programContext().settingsHive, "quilfpro", "/priority", false));
    const struct {
        const char* value;
        unsigned tenths;
    } stored[] = {{"a%2fb", 25}, {"Junk", 7}, {"Bulk", 20}, {"Mine", 40}};
    for (const auto& s : stored) {
        SCOPED_TRACE(s.value);
        unsigned tenths = 0;
        EXPECT_TRUE(priorities.QueryValue(s.value, tenths));
        EXPECT_EQ(tenths, s.tenths);
    }
    unsigned stale = 0;
    EXPECT_FALSE(priorities.QueryValue("Stale", stale)) << "the key is emptied first";
    EXPECT_EQ(listSetting("RuleOrder"), (CRegistry::StringList{"a/b", "Junk", "Bulk", "Mine"}));
    EXPECT_EQ(listSetting("DisabledRules"), (CRegistry::StringList{"Bulk", "Mine"}));
    // On disk, in the hive's own escaping of "%".
    const std::string hive = hiveFileText();
    EXPECT_NE(hive.find("\"/PRIORITY/A%252FB\" = 25\r\n"), std::string::npos) << hive;
    // And the filter reads the rating back for the rule a/b.
    loadRules();
    EXPECT_EQ(ruleStore().rating("a/b", -1), 25);
    EXPECT_EQ(ruleStore().rating("Junk", -1), 7);
    freeRules();

    // A page made afresh shows what was stored.
    load();
    EXPECT_EQ(page->names(), (QStringList{"a/b", "Junk", "Bulk", "Mine"}));
    EXPECT_EQ(row("a/b")->text(1), "2.5");
    EXPECT_EQ(row("Junk")->text(1), "0.7");
    EXPECT_FALSE(CRulesPage::isEnabled(row("Mine")));
    EXPECT_FALSE(CRulesPage::isEnabled(row("Bulk")));
    EXPECT_TRUE(CRulesPage::isEnabled(row("a/b")));
}

TEST(RatingTenths, TheRatingTextAsStoredTenths)
{
    const struct {
        const char* text;
        unsigned tenths;
    } cases[] = {
        {"2.5", 25}, {"5.0", 50}, {"0.0", 0}, {"10.0", 100}, {"0.29", 3}, {"2.49", 25},
        {"3.14x", 31}, {" 1.5 ", 15}, {"abc", 0}, {"", 0}, {"-2.0", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ratingTenths(c.text), c.tenths);
    }
}

} // namespace
