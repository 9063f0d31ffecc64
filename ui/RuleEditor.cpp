#include "ui/RuleEditor.h"

#include "common/CRegistry.h"
#include "common/SettingValues.h"
#include "common/ProgramContext.h"
#include "filter/Evaluation.h"
#include "filter/FilterContext.h"
#include "filter/FilterSettings.h"
#include "filter/SavedMessage.h"
#include "scriptkit/ScriptKit.h"
#include "ui/MessageBoxes.h"
#include "ui/RuleHighlighter.h"
#include "ui/SettingsKey.h"
#include "ui/UserRuleFile.h"
#include "ui/WindowRect.h"

#include <QCheckBox>
#include <QDir>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QVBoxLayout>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

namespace {

const char* const kTestCaption = "Script Test";

std::string rulesFolder()
{
    return programContext().dataRoot + "/rules";
}

// The script's own handle, closed when it goes.
struct ScriptCloser {
    void operator()(ScriptkitScript* script) const { CloseScript(script); }
};
using ScriptHandle = std::unique_ptr<ScriptkitScript, ScriptCloser>;

std::string readWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream data;
    data << in.rdbuf();
    return data.str();
}

// The band (1 to 5) a session puts a total in, by the thresholds the
// settings hold now.
int bandOfTotal(double total)
{
    FilterSettings settings;   // the shipped thresholds
    CRegistry reg;
    if (openSettingsKey(reg)) {
        for (int n = 1; n <= 4; ++n) {
            unsigned tenths = 0;
            if (querySetting(reg, Setting::Rating, tenths, n))
                settings.bands[n - 1].threshold = static_cast<float>(tenths) * 0.1f;
        }
    }
    return settings.bandOf(total) + 1;
}

// What the rule did to the message, as a session would count it.
QString testOutcome(const FilterContext& context)
{
    QString text;
    if (context.isOk) {
        text = "The rule passes this message as wanted mail: a session clears its rating, runs no rule after "
               "this one and lets it through.";
    } else if (context.isSpam) {
        const double total = std::min(context.ruleRating * kPointsPerTenth, kMaxTotal);
        text = QString("The rule finds this message to be spam: it adds %1 to the message's rating, which puts "
                       "it in band %2 when no other rule adds to it.")
                   .arg(total, 0, 'f', 1)
                   .arg(bandOfTotal(total));
    } else {
        text = "The rule does not match this message: it adds nothing to its rating.";
    }
    if (!context.decisionDetails.empty())
        text += "\n\nDecision lines:\n" + QString::fromStdString(context.decisionDetails).trimmed();
    return text;
}

} // namespace

unsigned ratingTenths(const QString& text)
{
    const std::string number = text.trimmed().toStdString();
    double value = 0.0;
    // from_chars reads the leading number the C way, whatever the locale.
    std::from_chars(number.data(), number.data() + number.size(), value);
    if (!(value > 0.0))
        return 0;
    return static_cast<unsigned>(std::min(value * 10.0 + 0.1, 4294967295.0));
}

RuleEditor::RuleEditor(const QString& name, const QString& rating, bool userRule, bool enabled, QWidget* parent)
    : QDialog(parent), m_name(name), m_userRule(userRule)
{
    setObjectName("RuleCode");
    setWindowTitle(userRule ? name : name + " (Read Only)");

    m_rating = new QLineEdit(QString::asprintf("%.1f", rating.toDouble()), this);
    m_rating->setReadOnly(!userRule);
    m_enabled = new QCheckBox("Enabled", this);
    m_enabled->setChecked(enabled);
    m_enabled->setEnabled(userRule);

    m_text = new QPlainTextEdit(this);
    QFont font("Courier New", 10);
    font.setStyleHint(QFont::Monospace);
    m_text->setFont(font);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    const QPalette& palette = m_text->palette();
    m_highlighter = new RuleHighlighter(
        m_text->document(),
        RuleColours::fromSettings().readableOn(palette.color(QPalette::Base), palette.color(QPalette::Text)));
    const std::string file = userRule ? UserRuleFile(rulesFolder()).userPath()
                                      : UserRuleFile(rulesFolder()).systemPath();
    if (std::optional<std::string> body = UserRuleFile::readBody(file, name.toStdString())) {
        m_text->setPlainText(QString::fromStdString(*body));
        m_bodyLoaded = true;
    }
    // Coloured now, not when the event loop next runs.
    m_highlighter->rehighlight();
    m_text->setReadOnly(!userRule);

    m_test = new QPushButton("Test", this);
    connect(m_test, &QPushButton::clicked, this, &RuleEditor::runTest);
    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    if (!userRule)
        okButton()->setText("Close");
    connect(m_buttons, &QDialogButtonBox::accepted, this, &RuleEditor::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &RuleEditor::reject);

    auto* top = new QFormLayout;
    auto* ratingRow = new QHBoxLayout;
    ratingRow->addWidget(m_rating);
    ratingRow->addWidget(m_enabled);
    ratingRow->addStretch();
    top->addRow("Rating", ratingRow);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_test);
    bottom->addStretch();
    bottom->addWidget(m_buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_text, 1);
    layout->addLayout(bottom);
    resize(640, 480);
    restoreWindowRect(*this, Setting::EditorPos);
    fitToScreenWhenShown(*this);
}

QPushButton* RuleEditor::okButton() const
{
    return m_buttons->button(QDialogButtonBox::Ok);
}

QString RuleEditor::rating() const
{
    return QString::asprintf("%.1f", ratingTenths(m_rating->text()) / 10.0);
}

bool RuleEditor::isEnabled() const
{
    return m_enabled->isChecked();
}

void RuleEditor::accept()
{
    if (m_userRule && m_bodyLoaded && !mayBeSaved())
        return;
    storeWindowRect(*this, Setting::EditorPos);
    if (m_userRule && m_bodyLoaded)
        UserRuleFile(rulesFolder()).saveBody(m_name.toStdString(), m_text->toPlainText().toStdString());
    QDialog::accept();
}

RuleEditor::Script RuleEditor::script() const
{
    Script result;
    result.text = readWhole(rulesFolder() + "/spamfltr.inc");
    if (!result.text.empty() && result.text.back() != '\n')
        result.text += '\n';
    result.prefixBytes = static_cast<int>(result.text.size());
    result.prefixLines = static_cast<int>(std::count(result.text.begin(), result.text.end(), '\n'));
    result.text += m_text->toPlainText().toStdString();
    return result;
}

bool RuleEditor::mayBeSaved()
{
    const Script text = script();
    ScriptHandle handle(CreateScript());
    if (!handle || ParseScript(handle.get(), text.text.c_str()))
        return true;
    const char* message = nullptr;
    int line = 0, start = 0, end = 0;
    GetError(handle.get(), &message, &line, &start, &end);
    selectScriptError(text, line, start, end);
    return showMessageBox(this, QMessageBox::Warning, windowTitle(),
                          "This rule does not compile:\n" + QString::fromUtf8(message ? message : "") +
                              "\n\nSave it anyway? The filter skips a rule that does not compile.",
                          QMessageBox::Save | QMessageBox::Cancel) == QMessageBox::Save;
}

void RuleEditor::reject()
{
    storeWindowRect(*this, Setting::EditorPos);
    QDialog::reject();
}

void RuleEditor::showScriptError(const Script& script, const char* message, int line, int start, int end)
{
    selectScriptError(script, line, start, end);
    showMessageBox(this, QMessageBox::Critical, kTestCaption, QString::fromUtf8(message ? message : ""));
}

void RuleEditor::selectScriptError(const Script& script, int line, int start, int end)
{
    const int prefixBytes = script.prefixBytes;
    const int prefixLines = script.prefixLines;
    // The engine counts bytes of the whole text; the editor counts
    // characters of its own.
    const QByteArray text = m_text->toPlainText().toUtf8();
    auto toCharacters = [&](int byteOffset) {
        const int offset = std::clamp(byteOffset - prefixBytes, 0, static_cast<int>(text.size()));
        return static_cast<int>(QString::fromUtf8(text.constData(), offset).size());
    };
    QTextCursor cursor(m_text->document());
    if (start - prefixBytes >= 0 && end > start) {
        cursor.setPosition(toCharacters(start));
        cursor.setPosition(toCharacters(end), QTextCursor::KeepAnchor);
    } else if (line - prefixLines >= 1) {
        const QTextBlock block = m_text->document()->findBlockByNumber(line - prefixLines - 1);
        if (block.isValid()) {
            cursor.setPosition(block.position());
            cursor.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
        }
    }
    m_text->setTextCursor(cursor);
    m_text->setFocus();
}

void RuleEditor::runTest()
{
    const Script text = script();
    ScriptHandle handle(CreateScript());
    if (!handle)
        return;
    const char* message = nullptr;
    int line = 0, start = 0, end = 0;
    if (!ParseScript(handle.get(), text.text.c_str())) {
        GetError(handle.get(), &message, &line, &start, &end);
        showScriptError(text, message, line, start, end);
        return;
    }

    QString messageFile = m_testMessage;
    if (messageFile.isEmpty()) {
        QFileDialog dialog(this, "Select Test Message File");
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilters({"Mail messages (*.eml *.msg *.txt)", "All files (*)"});
        CRegistry reg;
        std::string folder;
        const bool opened = openSettingsKey(reg);
        if (!opened || !querySetting(reg, Setting::TestMessageFolder, folder) || folder.empty() ||
            !QDir(QString::fromStdString(folder)).exists())
            folder = QDir::homePath().toStdString();
        dialog.setDirectory(QString::fromStdString(folder));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return;
        messageFile = dialog.selectedFiles().first();
        if (opened)
            storeSetting(reg, Setting::TestMessageFolder, QFileInfo(messageFile).absolutePath().toStdString());
    }

    QTemporaryDir spoolFolder;
    SavedMessage session;
    const std::string spool = spoolFolder.filePath("message.msg").toStdString();
    if (!spoolFolder.isValid() || !session.spool(messageFile.toStdString(), spool)) {
        showMessageBox(this, QMessageBox::Critical, kTestCaption, "Cannot read " + messageFile);
        return;
    }
    QString outcome;
    {
        FilterContext context(&session);
        const ContextRegistration registration(context);
        MessageDescriptor descriptor;
        descriptor.path = spool.c_str();
        descriptor.id = static_cast<uint32_t>(GetNextId());
        runSingleScript(context, descriptor, handle.get(), static_cast<int>(ratingTenths(m_rating->text())));
        outcome = testOutcome(context);
    }
    if (GetError(handle.get(), &message, &line, &start, &end)) {
        showScriptError(text, message, line, start, end);
        return;
    }
    showMessageBox(this, QMessageBox::Information, kTestCaption, "Script parsed and ran OK.\n\n" + outcome);
}
