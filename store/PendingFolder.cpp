#include "store/PendingFolder.h"

#include "common/CEventLog.h"
#include "common/CVDir.h"

void addPendingMessages(const std::string& folder, Mailbox& mailbox)
{
    for (CVDir it(folder.c_str(), "*.msg"); !it.atEnd(); it.moveNext()) {
        if (it.isDir())
            continue;
        auto message = std::make_unique<CMessage>();
        if (!message->readText(folder + "/" + it.fileName()))
            continue;
        message->local = true;
        message->pending = true;
        message->uid = CMessage::generatedUid();
        mailbox.push_back(std::move(message));
        CEventLog().LogEvent(4, "Pending queue message index %zu is %s", mailbox.size(), it.fileName());
    }
}
