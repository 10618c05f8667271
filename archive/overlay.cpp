#include "overlay.h"

#include "entrypattern.h"

void Overlay::offer(int archive, const BigEntry &entry)
{
    Copy &copy = winners[EntryPattern::folded(entry.path)];
    // A later archive takes the path over, but never a later copy in the
    // same archive.
    if (!copy.entry || (rule == Rule::LaterWins && archive > copy.archive))
        copy = {archive, &entry};
}

bool Overlay::wins(const BigEntry &entry) const
{
    const auto found = winners.constFind(EntryPattern::folded(entry.path));
    return found != winners.constEnd() && found->entry == &entry;
}
