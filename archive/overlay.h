#pragma once

#include "bigarchive.h"

#include <QByteArray>
#include <QHash>

// Several archives read as one, as a game reads them: where two hold the
// same path, one copy is the one read and the others are hidden.
//
// Two paths are the same when patterns cannot tell them apart
// (EntryPattern::folded: case and "/" against "\"). Between archives, the
// later one on the list wins, or the first with Rule::FirstWins; within
// one archive, the first entry of the path in directory order, as cat and
// extract read it.
class Overlay
{
public:
    enum class Rule
    {
        LaterWins,
        FirstWins
    };
    explicit Overlay(Rule rule) : rule(rule) {}

    // Offers `entry` of archive number `archive`: archives in list order,
    // each one's entries in directory order. The entry must outlive this.
    void offer(int archive, const BigEntry &entry);
    // Whether `entry`, offered before, is the copy read.
    bool wins(const BigEntry &entry) const;

private:
    struct Copy
    {
        int archive = -1;
        const BigEntry *entry = nullptr;
    };
    Rule rule;
    QHash<QByteArray, Copy> winners; // by folded path
};
