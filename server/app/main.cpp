// VexServer: serves the machine position and probe hits over TCP (docs/vexserver.md).
#include <QApplication>
#include <QStringList>

#include "server/app/CVexServerApp.h"
#include "server/app/HeadlessPlatform.h"
#include "server/app/HelpAndVersion.h"

int main(int argc, char** argv) {
    // Qt removes its own options from argv; the server's switches are read from the copy.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const std::optional<int> status = AnswerHelpOrVersion(arguments))
        return *status;

    UseOffscreenPlatformWithoutDisplay();
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VexServer"));
    QApplication::setQuitOnLastWindowClosed(false);

    CVexServerApp app;
    return app.InitInstance(arguments);
}
