// Where the picture verbs live in a module beside the program's private
// libraries, found by full path through library::open, as libGfxCore.so is.
// The module takes the archive and system libraries, the reporting hook and
// the codec from the program, which exports them.

#include "pictureverbs.h"

#include "cliutil.h"
#include "library.h"

namespace cli {

int runPictureVerb(const char *name, const QStringList &arguments)
{
    const QString file = library::fileName(QStringLiteral("vorland-cli-pictures"));
    library::Handle module = library::open(file);
    using Entry = int (*)(const char *, const QStringList &);
    const auto entry =
        module ? reinterpret_cast<Entry>(library::symbol(module, "vorland_picture_verb")) : nullptr;
    if (!entry) {
        printError(QStringLiteral("cannot load %1, which %2 needs: is Vorland installed whole?")
                       .arg(file, QLatin1String(name)));
        return Failure;
    }
    // Stays loaded until the process ends: what the verb leaves behind
    // (its reporter, its temporaries) may still refer to it.
    return entry(name, arguments);
}

} // namespace cli
