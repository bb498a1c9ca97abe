#include "tables/datapacket.h"

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_datapacket: %s\n", what);
    std::abort();
}

bool sameFields(const QList<FieldDef>& a, const QList<FieldDef>& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].type != b[i].type || a[i].size != b[i].size)
            return false;
    }
    return true;
}

} // namespace

// Any input either reads or raises EngineError. What reads must also survive the engine's own writer: a table
// that was loaded is saved again on close, and that file has to load to the same content.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    Datapacket packet;
    try {
        packet = readDatapacket(bytes);
    } catch (const EngineError&) {
        return 0;
    }
    const QByteArray written = writeDatapacket(packet);
    Datapacket again;
    try {
        again = readDatapacket(written);
    } catch (const EngineError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        fail("the writer produced a file that the reader refuses");
    }
    if (!sameFields(packet.fields, again.fields))
        fail("the field layout changed in a write and read");
    if (again.rows.size() != packet.rows.size())
        fail("the row count changed in a write and read");
    if (writeDatapacket(again) != written)
        fail("a second write differs from the first");
    return 0;
}
