#include "library.h"
#include "startup.h"
#include "vorland.h"

#include <QApplication>

int main(int argc, char **argv)
{
    library::restrictSearch();
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
