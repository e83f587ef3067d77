#include "reader/CodeReaderInterface.h"

#include "onewire/crc8.h"
#include "reader/onewirerom.h"
#include "shared/errors.h"
#include "shared/publictypes.h"
#include "shared/translation.h"

TReaderInterface::TReaderInterface(const QString& ReaderIdent, const QString& Arc, int32_t Adapter,
                                   int32_t Port, TSessionStart start)
    : ReaderIdent(ReaderIdent), Arc(Arc), Adapter(Adapter), Port(Port) {
    try {
        if (!IsMaximReader())
            throw VyrError(_("No valid reader"));
        MaximReader = std::make_unique<TMaximReader>(Arc, static_cast<int16_t>(Adapter),
                                                     static_cast<int16_t>(Port));
        if (!MaximReader->LoadDLL())
            throw VyrError(_("Unable not load TMEX library"));
        if (start == TSessionStart::Now)
            ReaderLoaded = MaximReader->StartSession();
        FRecovery = std::make_unique<TSessionRecovery>([this] { return RestartSession(); });
    } catch (...) {
        // A destructor does not run for a half-built object; release what was opened so far.
        Release();
        throw;
    }
}

TReaderInterface::~TReaderInterface() {
    Release();
}

bool TReaderInterface::IsMaximReader() const {
    return ReaderIdent == QLatin1String(MaximReaderName);
}

void TReaderInterface::Release() {
    if (!IsMaximReader() || !MaximReader)
        return;
    MaximReader->EndSession();
    MaximReader->FreeDLL();
    MaximReader.reset();
}

bool TReaderInterface::ReadRom(QString& RomString, bool ValidateCRC) {
    RomString.clear();
    std::vector<uint8_t> rom;
    if (!IsMaximReader() || !FRecovery->MayRead())
        return false;
    const bool read = MaximReader->ReadRom(rom);
    FRecovery->ReadDone(MaximReader->AdapterFault);
    if (!read)
        return false;

    FamilyCode = rom[0];
    RomCRC = rom[7];
    CRCCalculated = 0;
    for (size_t i = 0; i < 7; ++i)
        CalcCRC(rom[i], CRCCalculated);
    if (ValidateCRC && RomCRC != CRCCalculated)
        return false;

    FamilyType = FamilyName(FamilyCode);
    RomString = CardNumberFromRom(rom);
    return true;
}

TAdapterNews TReaderInterface::TakeAdapterNews() {
    return FRecovery ? FRecovery->TakeNews() : TAdapterNews::None;
}

bool TReaderInterface::OpenSession() {
    if (!IsMaximReader())
        return false;
    ReaderLoaded = MaximReader->StartSession();
    return ReaderLoaded;
}

bool TReaderInterface::RestartSession() {
    if (!IsMaximReader())
        return false;
    MaximReader->EndSession();
    ReaderLoaded = MaximReader->StartSession();
    return ReaderLoaded;
}

bool TReaderInterface::WritePage(int32_t address, std::vector<uint8_t>& data) {
    if (!IsMaximReader())
        return false;
    return MaximReader->WritePage(static_cast<uint16_t>(address), data);
}

void TReaderInterface::ReadPage(int32_t address, std::vector<uint8_t>& data) {
    data.clear();
    if (IsMaximReader())
        MaximReader->ReadPage(static_cast<uint16_t>(address), data);
}

void TReaderInterface::CalcCRC(uint8_t checkbyte, uint8_t& thecrc) {
    thecrc = onewire::crc8Step(thecrc, checkbyte);
}

std::unique_ptr<TReaderInterface> CreateConfiguredReader(const TRunSettings& settings,
                                                         TSessionStart start) {
    return std::make_unique<TReaderInterface>(settings.ReaderName, settings.Driver.DriverArc,
                                              settings.Driver.DriverAdapter,
                                              settings.Driver.DriverPort, start);
}
