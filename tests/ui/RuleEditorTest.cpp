// The rule editor: what it shows and writes for system and user rules, and
// its Test button over the real script engine and a saved message.
#include "RuleFixture.h"

#include "scriptkit/ScriptKit.h"
#include "ui/CRulesPage.h"
#include "ui/RuleEditor.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTreeWidget>

#include <filesystem>

namespace {

class RuleEditorTest : public RuleFixture
{
protected:
    void SetUp() override
    {
        RuleFixture::SetUp();
        std::filesystem::copy_file(QF_SHIPPED_INCLUDE, rules + "/spamfltr.inc",
                                   std::filesystem::copy_options::overwrite_existing);
    }

    // Opens the editor from the page on row name; check sees it open and
    // closes it.
    void editFromPage(CRulesPage& page, const char* name, std::function<void(RuleEditor&)> check)
    {
        page.list()->setCurrentItem(page.row(name));
        bool came = false;
        ModalDriver::onNextModal([&](QWidget* modal) {
            auto* editor = qobject_cast<RuleEditor*>(modal);
            came = true;
            if (editor == nullptr) {
                ADD_FAILURE() << "not the rule editor: " << modal->windowTitle().toStdString();
                modal->close();
                return;
            }
            check(*editor);
        });
        page.editButton()->click();
        EXPECT_TRUE(came);
    }

    // The engine's own message for a text that fails to parse.
    static std::string parseError(const std::string& text)
    {
        HSCRIPT script = CreateScript();
        const char* message = nullptr;
        std::string result = "<parsed>";
        if (!ParseScript(script, text.c_str()) && GetError(script, &message, nullptr, nullptr, nullptr))
            result = message;
        CloseScript(script);
        return result;
    }
};

TEST_F(RuleEditorTest, ASystemRuleIsReadOnlyAndWritesOnlyTheWindowPosition)
{
    {
        CRegistry reg;
        ASSERT_TRUE(openSettingsKey(reg));
        reg.SetValue("EditorPos", "30 40 730 540");
    }
    CRulesPage page;
    page.ensureInitialised();
    editFromPage(page, "Junk", [](RuleEditor& editor) {
        EXPECT_EQ(editor.windowTitle(), "Junk (Read Only)");
        EXPECT_EQ(editor.okButton()->text(), "Close");
        EXPECT_TRUE(editor.editor()->isReadOnly());
        EXPECT_TRUE(editor.ratingField()->isReadOnly());
        EXPECT_EQ(editor.ratingField()->text(), "3.0");
        EXPECT_EQ(editor.editor()->toPlainText(), "if headerfieldexists(\"X-Junk\") then\n  isspam()\nendif\n");
        EXPECT_EQ(editor.editor()->font().family(), "Courier New");
        EXPECT_EQ(editor.editor()->font().pointSize(), 10);
        EXPECT_EQ(editor.geometry(), QRect(30, 40, 700, 500));
        editor.editor()->setPlainText("changed");
        editor.setGeometry(50, 60, 400, 300);
        editor.okButton()->click();
    });
    EXPECT_EQ(setting("EditorPos"), "50 60 450 360");
    EXPECT_EQ(readFile(systemPath()), kSystemRules);
    EXPECT_EQ(userText(), kUserRules);
    EXPECT_EQ(page.row("Junk")->text(1), "3.0");
    CRegistry root;
    ASSERT_TRUE(root.OpenKey(programContext().settingsHive, "quilfpro", "/", false));
    std::string key;
    for (unsigned long i = 0; root.EnumKey(i, key); ++i)
        EXPECT_NE(key, "PRIORITY") << "no ratings were stored";
    EXPECT_EQ(setting("RuleOrder"), "<missing>");
}

TEST_F(RuleEditorTest, OkOnAUserRuleSavesTheBodyAndGivesTheRatingAndStateBack)
{
    writeFile(userPath(), "#rule \"Mine\" 40\r\nisspam()\r\n#endrule\r\n#rule \"a%2fb\"\n// slash rule\n#endrule\n");
    CRulesPage page;
    page.ensureInitialised();
    editFromPage(page, "Mine", [](RuleEditor& editor) {
        EXPECT_EQ(editor.windowTitle(), "Mine");
        EXPECT_EQ(editor.okButton()->text(), "OK");
        EXPECT_EQ(editor.editor()->toPlainText(), "isspam()\n");
        editor.editor()->setPlainText("if messagesize() > 10 then\n  isspam()\nendif");
        editor.ratingField()->setText("3.5");
        editor.enabledBox()->setChecked(false);
        editor.okButton()->click();
    });
    EXPECT_EQ(userText(), "#rule \"Mine\" 40\r\nif messagesize() > 10 then\n  isspam()\nendif\r\n#endrule\r\n"
                          "#rule \"a%2fb\"\n// slash rule\n#endrule\n");
    EXPECT_EQ(page.row("Mine")->text(1), "3.5");
    EXPECT_FALSE(CRulesPage::isEnabled(page.row("Mine")));
    EXPECT_NE(setting("EditorPos"), "<missing>");
}

TEST_F(RuleEditorTest, OkOnARuleThatDoesNotCompileAsksBeforeSaving)
{
    const QString broken = "if then\n  isspam()\nendif";
    const std::string want = parseError(readFile(rules + "/spamfltr.inc") + broken.toStdString());
    ASSERT_NE(want, "<parsed>");
    for (const QMessageBox::StandardButton answer : {QMessageBox::Cancel, QMessageBox::Save}) {
        SCOPED_TRACE(answer == QMessageBox::Save ? "saved anyway" : "not saved");
        writeFile(userPath(), kUserRules);
        RuleEditor editor("Mine", "4.0", true, true);
        editor.editor()->setPlainText(broken);
        editor.show();
        auto seen = ModalDriver::pressOnNextBox(answer);
        editor.okButton()->click();
        EXPECT_TRUE(seen->came);
        EXPECT_EQ(seen->icon, QMessageBox::Warning);
        EXPECT_NE(seen->text.toStdString().find(want), std::string::npos) << seen->text.toStdString();
        if (answer == QMessageBox::Cancel) {
            EXPECT_TRUE(editor.isVisible()) << "the editor stays open";
            EXPECT_EQ(editor.editor()->textCursor().selectedText(), "then");
            EXPECT_EQ(userText(), kUserRules);
        } else {
            EXPECT_FALSE(editor.isVisible());
            EXPECT_NE(userText().find("if then\n"), std::string::npos);
        }
    }
}

TEST_F(RuleEditorTest, CancelStoresTheRectangleOnly)
{
    CRulesPage page;
    page.ensureInitialised();
    editFromPage(page, "a/b", [](RuleEditor& editor) {
        EXPECT_EQ(editor.windowTitle(), "a/b");
        editor.editor()->setPlainText("isspam()\n");
        editor.ratingField()->setText("9.0");
        editor.setGeometry(10, 20, 500, 400);
        editor.reject();
    });
    EXPECT_EQ(userText(), kUserRules);
    EXPECT_EQ(page.row("a/b")->text(1), "5.0");
    EXPECT_EQ(setting("EditorPos"), "10 20 510 420");
}

TEST_F(RuleEditorTest, TestShowsAParseErrorAndSelectsItsPlaceInTheRule)
{
    RuleEditor editor("Mine", "4.0", true, true);
    const QString body = "isspam()\nif nosuchfunction(1) then\n  isspam()\nendif\n";
    editor.editor()->setPlainText(body);
    const std::string want = parseError(readFile(rules + "/spamfltr.inc") + body.toStdString());
    ASSERT_NE(want, "<parsed>");
    auto seen = ModalDriver::pressOnNextBox(QMessageBox::Ok);
    editor.testButton()->click();
    EXPECT_TRUE(seen->came);
    EXPECT_EQ(seen->caption, "Script Test");
    EXPECT_EQ(seen->icon, QMessageBox::Critical);
    EXPECT_EQ(seen->text.toStdString(), want);
    const QTextCursor cursor = editor.editor()->textCursor();
    EXPECT_EQ(cursor.block().blockNumber(), 1) << "the rule's second line";
    EXPECT_EQ(cursor.selectedText(), "nosuchfunction");
}

TEST_F(RuleEditorTest, TestTellsWhatTheRuleDidToTheMessage)
{
    const struct {
        const char* rating;
        const char* body;
        const char* says;
    } cases[] = {
        {"4.0", "if headerfieldexists(\"From\") then\n  isspam()\nendif\n",
         "it adds 4.0 to the message's rating, which puts it in band 2"},
        {"8.5", "adddecisiondetails(\"Sender looked up\")\nisspam()\n",
         "it adds 8.5 to the message's rating, which puts it in band 5 when no other rule adds to it.\n\n"
         "Decision lines:\nSender looked up"},
        {"4.0", "if headerfieldexists(\"X-Nothing-Like-This\") then\n  isspam()\nendif\n",
         "The rule does not match this message: it adds nothing to its rating."},
        {"4.0", "isok()\n", "The rule passes this message as wanted mail"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.body);
        RuleEditor editor("Mine", test.rating, true, true);
        editor.editor()->setPlainText(test.body);
        editor.setTestMessageFile(TEST_MESSAGES "/lf-only.eml");
        auto seen = ModalDriver::pressOnNextBox(QMessageBox::Ok);
        editor.testButton()->click();
        EXPECT_TRUE(seen->came);
        EXPECT_EQ(seen->caption, "Script Test");
        EXPECT_EQ(seen->icon, QMessageBox::Information);
        EXPECT_TRUE(seen->text.startsWith("Script parsed and ran OK.\n\n")) << seen->text.toStdString();
        EXPECT_TRUE(seen->text.contains(test.says)) << seen->text.toStdString();
    }
}

TEST_F(RuleEditorTest, TestShowsARunTimeErrorAtItsLine)
{
    RuleEditor editor("Mine", "4.0", true, true);
    editor.editor()->setPlainText("zero% = 0\nratio% = 10 / zero%\nisspam()\n");
    editor.setTestMessageFile(TEST_MESSAGES "/plain-latin1.eml");
    auto seen = ModalDriver::pressOnNextBox(QMessageBox::Ok);
    editor.testButton()->click();
    EXPECT_TRUE(seen->came);
    EXPECT_EQ(seen->caption, "Script Test");
    EXPECT_EQ(seen->icon, QMessageBox::Critical);
    EXPECT_FALSE(seen->text.startsWith("Script parsed and ran OK"));
    EXPECT_EQ(editor.editor()->textCursor().block().blockNumber(), 1) << "the division's line";
    EXPECT_TRUE(editor.editor()->textCursor().hasSelection());
}

TEST_F(RuleEditorTest, TestAsksForTheMessageFileAndCancellingEndsIt)
{
    RuleEditor editor("Mine", "4.0", true, true);
    editor.editor()->setPlainText("isspam()\n");
    QString title, folder;
    QStringList filters;
    bool came = false;
    ModalDriver::onNextModal([&](QWidget* modal) {
        came = true;
        title = modal->windowTitle();
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            filters = dialog->nameFilters();
            folder = dialog->directory().absolutePath();
        }
        static_cast<QDialog*>(modal)->reject();
    });
    editor.testButton()->click();
    EXPECT_TRUE(came);
    EXPECT_EQ(title, "Select Test Message File");
    EXPECT_EQ(filters, (QStringList{"Mail messages (*.eml *.msg *.txt)", "All files (*)"}));
    EXPECT_EQ(folder, QDir(QDir::homePath()).absolutePath()) << "not the folder the program started in";
}

TEST_F(RuleEditorTest, TheNextTestStartsInTheFolderOfTheLastMessage)
{
    TempDir messages;
    const std::string chosen = messages / "offer.eml";
    writeFile(chosen, "From: a@example.org\r\nSubject: offer\r\n\r\nbody\r\n");
    RuleEditor editor("Mine", "4.0", true, true);
    editor.editor()->setPlainText("isspam()\n");
    // The box's driver starts once the file is chosen (two drivers polling
    // at once could both take the file dialog), and before the dialog
    // closes, so that a warning of its own is answered and seen too.
    std::shared_ptr<ModalDriver::Seen> result;
    ModalDriver::onNextModal([&](QWidget* modal) {
        // The name typed as the user would: selectFile leaves the name
        // field as it is once that field has the focus, which it may have.
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        auto* name = dialog ? dialog->findChild<QLineEdit*>("fileNameEdit") : nullptr;
        if (name == nullptr) {
            ADD_FAILURE() << "not a file dialog with a name field: " << modal->windowTitle().toStdString();
            if (auto* other = qobject_cast<QDialog*>(modal))
                other->reject();
            else
                modal->close();
            return;
        }
        name->setText(QString::fromStdString(chosen));
        EXPECT_EQ(dialog->selectedFiles(), QStringList{QString::fromStdString(chosen)});
        result = ModalDriver::pressOnNextBox(QMessageBox::Ok);
        static_cast<QDialog*>(dialog)->accept();
    });
    editor.testButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return result && result->came; }, 2000));
    EXPECT_TRUE(result->text.contains("finds this message to be spam")) << result->text.toStdString();

    QString folder;
    ModalDriver::onNextModal([&](QWidget* modal) {
        if (auto* dialog = qobject_cast<QFileDialog*>(modal))
            folder = dialog->directory().absolutePath();
        static_cast<QDialog*>(modal)->reject();
    });
    editor.testButton()->click();
    EXPECT_EQ(folder.toStdString(), std::filesystem::path(chosen).parent_path().string());
}

} // namespace
