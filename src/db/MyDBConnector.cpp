#include "db/MyDBConnector.h"

#include "db/MyPostgreSQL.h"
#include "db/MySQLite.h"
#include "db/changewatch.h"
#include "shared/errors.h"

#include <QDir>

namespace {

// Reads `digits` decimal digits at `pos`; -1 when any is missing.
int Digits(QStringView text, qsizetype pos, int digits) {
    if (pos + digits > text.size())
        return -1;
    int value = 0;
    for (int i = 0; i < digits; ++i) {
        const char16_t c = text[pos + i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

// 'yyyy-MM-dd', 'yyyy-MM-dd HH:mm[:ss[.zzz]]' (or with a T), as local time. Hand-parsed: the
// cardholder list reads three dates from each of thousands of rows.
QDateTime ParseDatabaseDateTime(QStringView text) {
    text = text.trimmed();
    const int year = Digits(text, 0, 4);
    const int month = Digits(text, 5, 2);
    const int day = Digits(text, 8, 2);
    if (year < 0 || month < 0 || day < 0 || text[4] != u'-' || text[7] != u'-')
        return {};
    const QDate date(year, month, day);
    if (!date.isValid())
        return {};
    if (text.size() == 10)
        return QDateTime(date, QTime(0, 0));
    if (text[10] != u' ' && text[10] != u'T')
        return {};
    const int hour = Digits(text, 11, 2);
    const int minute = Digits(text, 14, 2);
    if (hour < 0 || minute < 0 || text[13] != u':')
        return {};
    int second = 0;
    int millisecond = 0;
    qsizetype end = 16;
    if (text.size() > 16) {
        second = Digits(text, 17, 2);
        if (text[16] != u':' || second < 0)
            return {};
        end = 19;
        if (text.size() > 19 && text[19] == u'.') {
            end = 20;
            int scale = 100;
            while (end < text.size() && text[end].isDigit()) {
                millisecond += (text[end].unicode() - u'0') * scale;
                scale /= 10;
                ++end;
            }
        }
    }
    if (end != text.size())
        return {};
    const QTime time(hour, minute, second, millisecond);
    if (!time.isValid())
        return {};
    return QDateTime(date, time);
}

// A connection-string value that holds a separator or surrounding blanks goes in double quotes,
// with any double quote inside doubled.
QString ConnectionStringQuoted(const QString& value) {
    const bool plain = !value.contains(u';') && !value.startsWith(u'"') &&
                       !value.startsWith(u'\'') && value.trimmed() == value;
    if (plain)
        return value;
    QString quoted = value;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

} // namespace

int TMyField::AsInteger() const {
    if (!FValue)
        return 0;
    switch (FValue->Kind) {
    case TMyValue::Integer:
        return int(FValue->IntegerValue);
    case TMyValue::Real:
        return int(qRound64(FValue->RealValue));
    case TMyValue::Text: {
        bool ok = false;
        const QString text = FValue->TextValue.trimmed();
        const int value = text.toInt(&ok);
        if (ok)
            return value;
        const double real = text.toDouble(&ok);
        return ok ? int(qRound64(real)) : 0;
    }
    case TMyValue::Null:
        break;
    }
    return 0;
}

QString TMyField::AsString() const {
    if (!FValue)
        return {};
    switch (FValue->Kind) {
    case TMyValue::Integer:
        return QString::number(FValue->IntegerValue);
    case TMyValue::Real:
        return QString::number(FValue->RealValue, 'g', 15);
    case TMyValue::Text:
        return FValue->TextValue;
    case TMyValue::Null:
        break;
    }
    return {};
}

QDateTime TMyField::AsDateTime() const {
    if (!FValue || FValue->Kind != TMyValue::Text)
        return {};
    return ParseDatabaseDateTime(FValue->TextValue);
}

bool TMyField::IsNull() const {
    return !FValue || FValue->Kind == TMyValue::Null;
}

void TMyResultSet::SetFieldNames(QStringList names) {
    FNames = std::move(names);
    FColumnCount = int(FNames.size());
    FValues.clear();
    // Room for a few rows at once: most results are small, and growing one row at a time would
    // move the values again and again.
    FValues.reserve(size_t(FColumnCount) * 8);
    FRow = 0;
}

TMyField TMyResultSet::Fields(int index) const {
    if (index < 0 || index >= FColumnCount)
        throw VyrError(QStringLiteral("The result has no field %1").arg(index));
    if (Eof())
        return TMyField();
    return TMyField(&FValues[size_t(FRow) * size_t(FColumnCount) + size_t(index)]);
}

TMyField TMyResultSet::FieldByName(const QString& name) const {
    const int index = FieldIndex(name);
    if (index < 0)
        throw VyrError(QStringLiteral("The result has no field named %1").arg(name));
    return Fields(index);
}

int TMyResultSet::FieldIndex(const QString& name) const {
    // Callers nearly always spell the name as selected: try the cheap exact match first.
    for (int i = 0; i < FColumnCount; ++i) {
        if (FNames[i] == name)
            return i;
    }
    for (int i = 0; i < FColumnCount; ++i) {
        if (FNames[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

TMyDBConnector::~TMyDBConnector() = default;

std::unique_ptr<TChangeWatch> TMyDBConnector::WatchChanges() {
    return std::make_unique<TChangeWatch>();
}

std::unique_ptr<TMyDBConnector> NewConnectorOfKind(const QString& typeName,
                                                   const QString& connectionString) {
    std::unique_ptr<TMyDBConnector> connector;
    if (typeName == QLatin1String("sqlite"))
        connector = std::make_unique<TMySQLite>();
    else if (typeName == QLatin1String("postgresql"))
        connector = std::make_unique<TMyPostgreSQL>();
    if (connector)
        connector->ConnectionString = connectionString;
    return connector;
}

QString TMyDBConnector::GetDBTypeName() const {
    return QStringLiteral("none");
}

bool TMyDBConnector::ExecuteWithTransaction(const TMyStatement& statement) {
    return ExecuteQuery(statement);
}

qint64 TMyDBConnector::ExecuteCounted(const TMyStatement& statement) {
    const QString errorBefore = GetLastError();
    if (ExecuteQuery(statement))
        return 1;
    return GetLastError() == errorBefore ? 0 : -1;
}

int TMyDBConnector::MaxBoundValues() const {
    // What even an old SQLite allowed: safe for an engine that does not say.
    return 999;
}

void TMyDBConnector::NotifyConnected() const {
    if (FStateConnectedEvent)
        FStateConnectedEvent();
}

void TMyDBConnector::NotifyDisconnected() const {
    if (FStateDisconnectedEvent)
        FStateDisconnectedEvent();
}

void TMyDBConnector::NotifyConnectionLost() const {
    if (FConnectionLostEvent)
        FConnectionLostEvent();
}

bool TMyDBConnector::TakeConnection(TMyDBConnector&) {
    return false;
}

bool CommitOutcomeUnknown(const TMyDBConnector& database) {
    return database.GetLastSqlState() == QLatin1String(TransactionResolutionUnknown);
}

bool TMyDBConnector::StartTransaction() {
    return false;
}

bool TMyDBConnector::CommitTransaction() {
    return false;
}

void TMyDBConnector::RollbackTransaction() {}

TTransaction::TTransaction(TMyDBConnector& connector) : FConnector(connector) {
    FOpen = FConnector.StartTransaction();
}

TTransaction::~TTransaction() {
    if (FOpen)
        FConnector.RollbackTransaction();
}

bool TTransaction::Commit() {
    if (!FOpen)
        return false;
    FOpen = false;
    return FConnector.CommitTransaction();
}

TBulkWork::TBulkWork(TMyDBConnector* connector) : FConnector(connector) {
    if (FConnector)
        FConnector->BeginBulkWork();
}

TBulkWork::~TBulkWork() {
    Commit();
}

bool TBulkWork::Commit() {
    if (FConnector && !FEnded)
        FKept = FConnector->EndBulkWork();
    FEnded = true;
    return FKept;
}

QString JetConnectionString(const QString& dbFileName) {
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1;Persist Security "
                          "Info=False;Jet OLEDB:Database Password=%2;")
        .arg(ConnectionStringQuoted(dbFileName), QString::fromLatin1(DatabasePassword));
}

QString ConnectionStringValue(const QString& connectionString, const QString& key) {
    const qsizetype size = connectionString.size();
    qsizetype pos = 0;
    while (pos < size) {
        const qsizetype equals = connectionString.indexOf(u'=', pos);
        if (equals < 0)
            break;
        const QString name = connectionString.sliced(pos, equals - pos).trimmed();
        pos = equals + 1;
        while (pos < size && connectionString[pos] == u' ')
            ++pos;
        QString value;
        if (pos < size && (connectionString[pos] == u'"' || connectionString[pos] == u'\'')) {
            const QChar quote = connectionString[pos];
            for (++pos; pos < size; ++pos) {
                if (connectionString[pos] == quote) {
                    if (pos + 1 < size && connectionString[pos + 1] == quote)
                        ++pos;
                    else
                        break;
                }
                value += connectionString[pos];
            }
            const qsizetype separator = connectionString.indexOf(u';', pos);
            pos = separator < 0 ? size : separator + 1;
        } else {
            const qsizetype separator = connectionString.indexOf(u';', pos);
            const qsizetype end = separator < 0 ? size : separator;
            value = connectionString.sliced(pos, end - pos).trimmed();
            pos = end + 1;
        }
        if (name.compare(key, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QString ConnectionStringFile(const QString& connectionString) {
    QString file = ConnectionStringValue(connectionString, QStringLiteral("Data Source"));
    if (file.isEmpty())
        return {};
    file.replace(u'\\', u'/');
    return QDir::cleanPath(QDir::current().absoluteFilePath(file));
}

std::unique_ptr<TMyDBConnector> TMyDBConnector::NewConnection() const {
    return NewConnectorOfKind(GetDBTypeName(), ConnectionString);
}
