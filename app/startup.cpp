#include "startup.h"

#include "report.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QStringList>

void appendPluginPaths()
{
    // Anchored to the program's own folder: plain relative names would make
    // Qt load plug-ins from whatever folder the program was started in.
    const QString home = QCoreApplication::applicationDirPath();
    QStringList paths = QCoreApplication::libraryPaths();
    paths << home << home + QStringLiteral("/imageformats") << home + QStringLiteral("/platforms")
          << home + QStringLiteral("/sqldrivers");
    QCoreApplication::setLibraryPaths(paths);
}

void installMessageBoxReporter()
{
    vorland::setReporter([](const QString &message) {
        QMessageBox box;
        box.setText(message);
        box.exec();
    });
}
