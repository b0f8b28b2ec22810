// The loopback test server as a process of its own, for tests that run
// several clients against one service. Prints its endpoint on the first line
// of standard output and serves until it is terminated.
//
//     testserver [port]

#include "testserver.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const quint16 port = arguments.size() > 1 ? arguments.at(1).toUShort() : 0;

    TestServer server;
    if (!server.listen(port)) {
        QTextStream(stderr) << "testserver: cannot listen on 127.0.0.1\n";
        return 1;
    }
    QTextStream(stdout) << server.endpoint() << Qt::endl;
    return app.exec();
}
