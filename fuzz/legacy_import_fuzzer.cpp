// libFuzzer target for the legacy files: the record decoder and the whole import, run against a
// database in memory (a template copy on tmpfs, each input inside a transaction that is rolled
// back). The input is split in two: the first two bytes give the length of the controller file
// (little-endian, cut to what is there), the rest is the card file.
//
// Besides crashes and sanitizer reports it stops on a broken promise: a decoded text with a 0
// byte, a character above U+00FF or a blank at either end, or a database that disagrees with the
// import's own summary.

#include "db/MySQLite.h"
#include "journal/journal.h"
#include "profiles/legacyimport.h"
#include "profiles/legacyrecords.h"
#include "shared/errors.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

struct TFuzzWorld {
    std::unique_ptr<QCoreApplication> App;
    std::unique_ptr<QTemporaryDir> Folder;
    std::unique_ptr<TMySQLite> Db;
};

TFuzzWorld* World = nullptr;

[[noreturn]] void Broken(const char* promise) {
    std::fprintf(stderr, "broken promise: %s\n", promise);
    std::abort();
}

void CheckText(const QString& text) {
    for (QChar c : text) {
        if (c.unicode() == 0 || c.unicode() > 0xff)
            Broken("a decoded text holds a 0 byte or a character beyond Latin-1");
    }
    if (!text.isEmpty() && (text.front().unicode() <= 32 || text.back().unicode() <= 32))
        Broken("a decoded text starts or ends with a blank or control character");
}

qint64 Count(TMySQLite& db, const char* table) {
    const auto result = db.Query(QStringLiteral("SELECT COUNT(*) FROM ") + QLatin1String(table));
    return result ? result->Fields(0).AsInteger() : -1;
}

std::unique_ptr<TLegacyRecordReader> Reader(QByteArray bytes, const char* name, qsizetype size) {
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(bytes);
    buffer->open(QIODevice::ReadOnly);
    return std::make_unique<TLegacyRecordReader>(std::move(buffer), QLatin1String(name), size);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    World = new TFuzzWorld;
    World->App = std::make_unique<QCoreApplication>(*argc, *argv);
    const QString shm = QStringLiteral("/dev/shm");
    World->Folder = std::make_unique<QTemporaryDir>((QFile::exists(shm) ? shm : QDir::tempPath()) +
                                                    "/vyr-fuzz-XXXXXX");
    const QString database = World->Folder->filePath("fuzz.accdb");
    if (!QFile::copy(QCoreApplication::applicationDirPath() + "/default.accdb", database))
        Broken("the template database lies beside the fuzzer");
    QFile::setPermissions(database, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    World->Db = std::make_unique<TMySQLite>();
    World->Db->ConnectionString = JetConnectionString(database);
    if (!World->Db->Connect())
        Broken("the fuzz database opens");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView input(reinterpret_cast<const char*>(data), qsizetype(size));

    CheckText(BytesToText(input));
    for (qsizetype at = 0; at + ControllerRecordSize <= input.size(); at += ControllerRecordSize) {
        if (const auto controller = DecodeControllerRecord(input.sliced(at), 1)) {
            CheckText(controller->ConName);
            if (controller->ConCode.size() != 6)
                Broken("a controller code has 6 characters");
        }
    }

    qsizetype split = 0;
    if (input.size() >= 2)
        split = std::min<qsizetype>(quint8(input[0]) | (quint8(input[1]) << 8), input.size() - 2);
    const QByteArray controllers =
        input.sliced(std::min<qsizetype>(2, input.size()), split).toByteArray();
    const QByteArray cards =
        input.sliced(std::min<qsizetype>(2, input.size()) + split).toByteArray();

    TMySQLite& db = *World->Db;
    if (!db.StartTransaction())
        Broken("a transaction can begin");
    try {
        auto controllerReader = Reader(controllers, "autonoom.bst", ControllerRecordSize);
        const TLegacyImportSummary summary = ImportLegacyRecords(
            db, *controllerReader, [&] { return Reader(cards, "asleutel.bst", CardRecordSize); },
            TJournalAuthor{"fuzz", "desk"});
        if (Count(db, "Controllers") != summary.ControllersImported ||
            Count(db, "CardHolders") != summary.CardholdersImported ||
            Count(db, "CardZones") != summary.ZoneRowsWritten)
            Broken("the database holds what the summary says");
        if (summary.ControllersImported + summary.ControllersSkipped !=
            controllers.size() / ControllerRecordSize)
            Broken("every controller record is counted once");
        if (summary.CardsRead && summary.CardholdersImported + summary.CardRecordsSkipped +
                                         summary.CardRecordsReplaced !=
                                     cards.size() / CardRecordSize)
            Broken("every card record is counted once");
    } catch (const VyrError& error) {
        // Input alone never makes a sound database refuse a statement.
        std::fprintf(stderr, "refused: %s\n", qPrintable(error.Message()));
        Broken("the import of any bytes succeeds");
    }
    db.RollbackTransaction();
    return 0;
}
