#include "pictureverbs.h"

#include "verbs.h"

#include <cstring>

namespace cli {

int pictureVerb(const char *name, const QStringList &arguments)
{
    static const struct
    {
        const char *name;
        int (*run)(const QStringList &);
    } verbs[] = {{"render", runRender},
                 {"convert", runConvert},
                 {"thumbnail", runThumbnail},
                 {"test", runTest}};
    for (const auto &verb : verbs) {
        if (std::strcmp(verb.name, name) == 0)
            return verb.run(arguments);
    }
    return -1;
}

} // namespace cli

extern "C" int vorland_picture_verb(const char *name, const QStringList &arguments)
{
    return cli::pictureVerb(name, arguments);
}
