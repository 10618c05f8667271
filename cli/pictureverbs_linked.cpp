// Where the picture verbs are linked into the program itself.

#include "pictureverbs.h"

namespace cli {

int runPictureVerb(const char *name, const QStringList &arguments)
{
    return pictureVerb(name, arguments);
}

} // namespace cli
