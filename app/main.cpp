// quillfnc: the Quillfence Pro POP3 proxy.
//   quillfnc           start (headless when there is no display, or --no-gui)
//   quillfnc --stop    stop the running instance
//   quillfnc --help    every command (app/CommandLine.h)
#include "app/CProxyApp.h"

#include <signal.h>
#include <sys/stat.h>

namespace {

void onStopSignal(int)
{
    CProxyApp::s_signalled.store(true);
}

} // namespace

int main(int argc, char** argv)
{
    // Everything the program writes (settings, logs, spooled mail) is the
    // user's alone, whatever umask it was started with.
    ::umask(077);
    // A client that vanishes must never end the program.
    ::signal(SIGPIPE, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    return CProxyApp().InitInstance(argc, argv);
}
