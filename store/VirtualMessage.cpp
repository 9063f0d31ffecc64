#include "store/VirtualMessage.h"

#include "common/AtomicFile.h"
#include "common/CEventLog.h"
#include "common/CRegistry.h"
#include "common/FileRetry.h"
#include "common/InternetDate.h"
#include "common/UniqueFd.h"
#include "store/SpoolField.h"

#include <cstdio>

bool addVirtualMessage(Mailbox& mailbox, const std::string& stateFolder, const std::string& subject,
                       const std::string& body)
{
    char id[64];
    std::snprintf(id, sizeof id, "Message-Id: <%08x@mail.quillfence.invalid>\r\n", static_cast<unsigned>(GetNextId()));
    char date[64];
    const std::string text = std::string(id) + "Date: " + GetInternetTimeString(date, sizeof date) +
                             "\r\nTo: \"Local User\"\r\nFrom: \"Quillfence\"\r\nReply-To: null\r\n"
                             "Subject: " + subject + "\r\n\r\n" + body + ".\r\n";
    auto message = std::make_unique<CMessage>();
    message->local = true;
    message->uid = CMessage::generatedUid();
    UniqueFd reserved;
    const std::string spoolId = createFreshFile(stateFolder, SpoolField::spoolFileName, reserved);
    reserved.reset();   // the name is what is reserved; the text replaces it whole
    if (spoolId.empty()) {
        CEventLog().LogEvent(1, "Unable to create a spool file in %s", stateFolder.c_str());
    } else {
        const std::string path = stateFolder + "/" + SpoolField::spoolFileName(spoolId);
        AtomicFile file(path, 0600);
        // Served from the file as any spooled text is.
        if (file.write(text) && file.commit() && message->readText(path)) {
            CEventLog().LogEvent(4, "Writing spam report to virtual message %s", path.c_str());
            message->spoolId = spoolId;
            mailbox.push_back(std::move(message));
            return true;
        }
        CEventLog().LogEvent(1, "Unable to create %s", path.c_str());
        deleteFileRetry(path);
    }
    // No room on disk: the message is served from memory.
    message->textLength = 0;
    message->textTail = text;
    message->size = static_cast<long>(text.size());
    mailbox.push_back(std::move(message));
    return false;
}
