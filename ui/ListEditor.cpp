#include "ui/ListEditor.h"

#include "common/AtomicFile.h"
#include "common/CRegistry.h"
#include "common/CVEvent.h"
#include "common/ProgramContext.h"
#include "common/UniqueFd.h"
#include "ui/MessageBoxes.h"
#include "ui/SettingsKey.h"
#include "ui/WindowRect.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringDecoder>
#include <QVBoxLayout>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

const char* const ListEditor::kReloadEventName = "Corvanta Quillfence Pro Reload";

namespace {

// Closing with unsaved changes: fewer, longer tries than Save, as the
// window is going away whatever happens.
constexpr int kCloseAttempts = 10;
constexpr int kClosePauseMs = 100;
// Opening: a writer holds a list only while it renames the new one in.
constexpr int kReadAttempts = 100;
constexpr int kReadPauseMs = 50;

unsigned char lowerByte(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

bool lessIgnoringCase(const std::string& a, const std::string& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return lowerByte(x) < lowerByte(y); });
}

// Tries flock operation (LOCK_SH or LOCK_EX) up to attempts times.
bool lockWithRetry(int fd, int operation, int attempts, int pauseMs)
{
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (::flock(fd, operation | LOCK_NB) == 0)
            return true;
        if (attempt + 1 < attempts)
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
    return false;
}

// The list file's first kMaxText bytes, read under the shared lock that
// keeps writers out; empty when it cannot be read.  A writer that holds
// the list longer than the tries is not waited for: the text is read as
// it stands.
std::string readListFile(const std::string& path)
{
    std::string text;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return text;
    lockWithRetry(fd.get(), LOCK_SH, kReadAttempts, kReadPauseMs);
    char buffer[65536];
    while (text.size() < static_cast<size_t>(ListEditor::kMaxText)) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
    }
    if (text.size() > static_cast<size_t>(ListEditor::kMaxText))
        text.resize(static_cast<size_t>(ListEditor::kMaxText));
    return text;
}

void signalReload()
{
    if (std::unique_ptr<CVEvent> reload = CVEvent::open(ListEditor::kReloadEventName))
        reload->set();
}

} // namespace

ListEditor::ListEditor(const QString& fileName, QWidget* parent)
    : QDialog(parent),
      m_path(QString::fromStdString(programContext().dataRoot) + "/rules/" + fileName),
      m_text(new QPlainTextEdit(this)),
      m_sort(new QCheckBox(tr("Sort lines when saving"), this)),
      m_save(new QPushButton(tr("Save"), this))
{
    setWindowTitle(fileName);
    setSizeGripEnabled(true);
    m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* close = new QPushButton(tr("Close"), this);
    auto* row = new QHBoxLayout;
    row->addWidget(m_sort);
    row->addStretch();
    row->addWidget(m_save);
    row->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addLayout(row);
    connect(m_save, &QPushButton::clicked, this, [this] { save(); });
    connect(close, &QPushButton::clicked, this, &ListEditor::reject);

    load();
    restoreWindowRect(*this, Setting::ListEditorPos);
    fitToScreenWhenShown(*this);
}

void ListEditor::load()
{
    const std::string bytes = readListFile(m_path.toStdString());
    m_crlf = bytes.find("\r\n") != std::string::npos;
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (utf8.hasError()) {
        m_latin1 = true;
        text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    if (m_crlf)
        text.replace("\r\n", "\n");
    m_text->setPlainText(text);
    m_text->document()->setModified(false);
}

std::string ListEditor::contentToWrite() const
{
    QString text = m_text->toPlainText();
    if (m_crlf)
        text.replace("\n", "\r\n");
    const QByteArray bytes = m_latin1 ? text.toLatin1() : text.toUtf8();
    std::string content(bytes.constData(), static_cast<size_t>(bytes.size()));
    return m_sort->isChecked() ? sortedLines(content) : content;
}

std::string ListEditor::sortedLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find('\n', pos);
        if (end == std::string::npos) {
            lines.push_back(text.substr(pos));
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    std::stable_sort(lines.begin(), lines.end(), lessIgnoringCase);
    std::string sorted;
    sorted.reserve(text.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            sorted += '\n';
        sorted += lines[i];
    }
    return sorted;
}

bool ListEditor::writeListFile(const std::string& path, const std::string& content, int attempts, int pauseMs)
{
    // The lock is taken on the list itself, as the filter's readers take
    // their shared one; it stays on the old file while the new one is
    // renamed over it, so no reader sees a half-written list.
    UniqueFd list(::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644));
    if (!list)
        return false;
    if (!lockWithRetry(list.get(), LOCK_EX, attempts, pauseMs))
        return false;
    struct stat info {};
    const unsigned mode = ::fstat(list.get(), &info) == 0 ? (info.st_mode & 07777) : 0644;
    AtomicFile replacement(path, mode);
    return replacement.write(content) && replacement.commit();
}

bool ListEditor::save(int attempts, int pauseMs)
{
    const bool written = writeListFile(m_path.toStdString(), contentToWrite(), attempts, pauseMs);
    if (written)
        m_text->document()->setModified(false);
    signalReload();
    return written;
}

void ListEditor::done(int result)
{
    storeWindowRect(*this, Setting::ListEditorPos);
    if (m_text->document()->isModified() && askYesNo(this, "Quillfence Pro", "Save changes?"))
        save(kCloseAttempts, kClosePauseMs);
    QDialog::done(result);
}
