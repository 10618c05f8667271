#include "startup.h"

#include "report.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QStringList>

void appendPluginPaths()
{
    QStringList paths = QCoreApplication::libraryPaths();
    paths << QStringLiteral(".") << QStringLiteral("imageformats") << QStringLiteral("platforms")
          << QStringLiteral("sqldrivers");
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
