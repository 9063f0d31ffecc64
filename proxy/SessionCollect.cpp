// The session's side of the collection: the client kept alive while it
// runs, the collection made with the session's settings, and at QUIT the
// account state that carries its judgements over.
#include "proxy/CSession.h"

#include "common/CEventLog.h"
#include "common/CVDateTime.h"
#include "filter/FilterSettings.h"
#include "proxy/Collection.h"

void CSession::keepAlive()
{
    const long now = CVDateTime::currentTime();
    if (now - keepAliveTime < static_cast<long>(kKeepAliveMs / 1000))
        return;
    keepAliveTime = now;
    client.send(".", 1);
    CEventLog().LogEvent(128, ">c . (keep alive)");
}

bool CSession::collect()
{
    if (m_collection)
        return m_collected = m_collection(*this);
    // Every exchange with the server while the mailbox is collected may be
    // the moment the client has waited long enough for a keep-alive.
    struct KeepingAlive {
        UpstreamConnection& server;
        ~KeepingAlive() { server.setActivityHook({}); }
    } keeping{upstream.connection()};
    upstream.connection().setActivityHook([this] { keepAlive(); });
    keepAliveTime = CVDateTime::currentTime();

    Collection collection({upstream, m_judge, *filter, m_accountState, mailbox, m_pendingClaim, stateFolder(), accountFile},
                          {maxCollectionTime, collectionReport, m_ownUser, filterSettings().sizeLimit},
                          [this](const char* text) { status("%s", text); });
    try {
        m_collected = collection.run();
        uidlSupported = collection.uidlSupported();
        m_filterDeleted = collection.deletedOnServer();
        return m_collected;
    } catch (const UpstreamLost& lost) {
        CEventLog().LogEvent(1, "Connection to the mail server %s lost, error %ld", upstream.host().c_str(),
                             lost.error);
        upstream.drop();
        return false;
    } catch (int) {
        throw;   // the client's connection failed (a keep-alive dot): the session ends
    } catch (long) {
        throw;   // the client went, or the program is stopping
    } catch (...) {
        DebugX(__FILE__, __LINE__);
        return false;
    }
}

bool CSession::writeAccountState(bool committed, std::set<std::string>* recorded)
{
    // Only a complete collection may replace the records of earlier
    // sessions: after a refused login or a failed collection the mailbox
    // would be empty or partial.
    if (!m_collected)
        return true;
    return m_accountState.write(accountFile, mailbox, committed, recorded);
}
