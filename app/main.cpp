#include "startup.h"
#include "vorland.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    appendPluginPaths();
    installMessageBoxReporter();
    int result;
    {
        Vorland window;
        window.show();
        result = QApplication::exec();
    }
    return result;
}
