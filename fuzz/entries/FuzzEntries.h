#pragma once
// One entry function per untrusted input of the program, shared by the libFuzzer targets in
// fuzz/ and by the ordinary test that replays the inputs the fuzzers found (kept under
// tests/<subsystem>/data/fuzz-regressions/<target>/). Each takes arbitrary bytes and drives the
// same code the program runs on such input. An error the code reports (an Exception) is a sound
// answer; a crash, a sanitizer report, any other exception or a broken invariant (checked here,
// failing with abort) is a finding.
//
// Knows every subsystem that reads untrusted input; knows nothing of windows. Files are written
// in a scratch folder of its own (on /dev/shm when there is one, so durable writes cost little).
#include <QByteArray>
#include <QString>
#include <vector>

namespace fuzzentry {

struct Entry {
    const char* name;                    // target name: fuzz_<name> and the regression folder
    const char* regressionDir;           // relative to the source folder
    void (*run)(const QByteArray& input);
};

// Every entry, in a fixed order.
const std::vector<Entry>& entries();
const Entry* find(const QString& name);

// Writes starting inputs for the entry into dir, made by the program's own writers.
void writeSeeds(const Entry& entry, const QString& dir);

// A QGuiApplication on the offscreen platform when no application exists yet (fonts, images).
void ensureApplication();

// Bytes of a capture file, as the receiver leaves it in Temp/: parsed and, when it holds a complete
// message, stored by the import's INSERT into a result table; exactly one row must appear.
void captureImport(const QByteArray& input);
// SQL text run against a small result table; "$T" in the text stands for the table's quoted name.
void sqlText(const QByteArray& input);
// A table file: opened, every record of every field read through the SQL core's view.
void tableFile(const QByteArray& input);
// A page image: header read and the page played onto an A4 picture at a quarter of 96 dpi.
void pageImage(const QByteArray& input);
// A saved report file: loaded as the preview loads it, described, and its first pages drawn.
void reportFile(const QByteArray& input);
// A layout text: parsed and built into a report.
void layoutText(const QByteArray& input);
// A settings file: the program's keys read, one written back.
void settingsIni(const QByteArray& input);
// An audit trail: the input is a message archive, then after a line "#history" a change
// history, then after a line "#table" the bytes of the result table (a small one of blank rows
// when absent); a line "#day" in either chain starts its next day's file (three at most). Each
// marker brings a line feed of its own, so a part may end without one. Checked, rows' stories
// read, the archive's index and the pending changes looked up, and an entry appended, which must
// link to the line before it.
void auditFiles(const QByteArray& input);
// The index cache beside a small result table: the input as the whole file, and as the body
// behind the head the program writes for that table, sealed; the index must come up either way
// (made from the table when the cache does not read) and answer finds.
void indexCache(const QByteArray& input);
// The cache the program writes for the index-cache target's table, and its head's length.
QByteArray indexCacheSeed();

} // namespace fuzzentry
