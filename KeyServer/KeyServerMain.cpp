// ardentvault-keyserver: the HTTPS key server. See ServerOptions for the
// command line and KeyServerApp for what it sets up.

#include "KeyServerApp.h"
#include "ServerOptions.h"

#include <curl/curl.h>

#include <csignal>
#include <iostream>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>

int main(int argc, char** argv)
{
    using keyserver::ServerOptions;
    ServerOptions options;
    std::string error;
    if (!ServerOptions::parse(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::cerr << "ardentvault-keyserver: " << error << "\n\n" << ServerOptions::usage();
        return 2;
    }
    if (options.showHelp) {
        std::cout << ServerOptions::usage();
        return 0;
    }

    // Database, keys and mails are for this user only.
    umask(077);

    // SIGINT and SIGTERM are taken by one thread with sigwait, so the stop
    // happens in ordinary code rather than in a signal handler. The mask is
    // set before any other thread exists, so every thread inherits it.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    curl_global_init(CURL_GLOBAL_DEFAULT);

    int exitCode = 0;
    {
        keyserver::KeyServerApp app(options, std::cout);
        std::thread signalWaiter([&app, &stopSignals] {
            int signal = 0;
            sigwait(&stopSignals, &signal);
            app.stop();
        });
        if (app.start())
            app.serve();
        else
            exitCode = 1;
        // Wakes the waiter when the server ended for another reason.
        app.stop();
        pthread_kill(signalWaiter.native_handle(), SIGTERM);
        signalWaiter.join();
    }
    curl_global_cleanup();
    return exitCode;
}
