// Containers of largetable::Allocator: blocks from kLargeFrom on come from
// mappings of their own, cut to a large-page boundary, and go back whole,
// whatever the size they were asked for.

#include "largetable.h"

#include <QtTest>

#include <cstdint>

class TestLargeTable : public QObject
{
    Q_OBJECT

private slots:
    void growsAndKeepsItsElements_data();
    void growsAndKeepsItsElements();
    void aLargeBlockStartsOnALargePage();
};

void TestLargeTable::growsAndKeepsItsElements_data()
{
    QTest::addColumn<int>("count");
    // Below the threshold, just across it, across a large page, and over
    // several (8-byte elements).
    for (const int count : {100, 32767, 32768, 32769, 262143, 262145, 1000003})
        QTest::addRow("%d", count) << count;
}

void TestLargeTable::growsAndKeepsItsElements()
{
    QFETCH(int, count);
    largetable::Vector<uint64_t> grown;
    for (int i = 0; i < count; ++i)
        grown.push_back(uint64_t(i) * 2654435761u);
    largetable::Vector<uint64_t> zeros(size_t(count), 0);
    largetable::String text;
    for (int i = 0; i < count; ++i)
        text += char('a' + i % 26);
    for (int i = 0; i < count; ++i) {
        QCOMPARE(grown[size_t(i)], uint64_t(i) * 2654435761u);
        QCOMPARE(zeros[size_t(i)], uint64_t(0));
        QCOMPARE(text[size_t(i)], char('a' + i % 26));
    }
    grown.resize(size_t(count / 3));
    grown.shrink_to_fit(); // back to the heap, or to a smaller mapping
    QCOMPARE(grown.back(), uint64_t(count / 3 - 1) * 2654435761u);
}

void TestLargeTable::aLargeBlockStartsOnALargePage()
{
#if defined(Q_OS_WIN)
    QSKIP("large pages need a privilege there: a block is as the system aligns it");
#endif
    largetable::Vector<char> table;
    table.reserve(largetable::room(largetable::kLargeFrom, 1));
    QCOMPARE(table.capacity() % largetable::kPageSize, size_t(0));
    QCOMPARE(uintptr_t(table.data()) % largetable::kPageSize, uintptr_t(0));
}

QTEST_APPLESS_MAIN(TestLargeTable)
#include "tst_largetable.moc"
