#pragma once

#include <QStringList>

// The verbs that decode or write pictures: render, convert, thumbnail and
// test (which decodes them with --pictures). They need Qt Gui and the image
// libraries, which took a third of every other verb's start: where the
// system allows, they live in a module of their own, loaded by full path
// when one of them runs. One implementation per system of how they are
// reached: pictureverbs_module.cpp, pictureverbs_linked.cpp.
namespace cli {

// Runs the picture verb `name`; a failure with its message when the module
// that holds it cannot be loaded.
int runPictureVerb(const char *name, const QStringList &arguments);

// The verbs themselves, wherever they are linked: the exit status, or -1
// for a name that is none of them.
int pictureVerb(const char *name, const QStringList &arguments);

} // namespace cli

// The module's entry point, looked up by this name.
extern "C" int vorland_picture_verb(const char *name, const QStringList &arguments);
