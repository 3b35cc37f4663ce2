// The main window's logic on the simulated desktop and control, with
// deliveries whose conversion answers scripted results. Every box is
// dismissed 250 ms after it opens unless a test says otherwise.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/frm_main.h"
#include "common/cp1252.h"
#include "sim/sim_event_loop.h"
#include "sim/sim_neto_ctl.h"
#include "sim/sim_shell.h"

namespace vorlund::sim {

inline constexpr VirtualTime kDismissDelay = 250;
inline const std::string kSpoolDir = "C:\\Vorlund\\Spool";

inline const std::string kCannotStart = "InfoBox: Kunde inte starta protokoll";
inline const std::string kCannotOpenPort =
    "InfoBox: Kunde inte \xF6ppna COM-port. Kontrollera att ingen annan applikation "
    "anv\xE4nder porten.";
inline const std::string kCannotCreateExport = "InfoBox: Fel vid skapande av destinationsfil!";
inline const std::string kCannotCreateExportNorKeep =
    "InfoBox: Fel vid skapande av destinationsfil! Leveransen kunde inte heller sparas undan: den "
    "finns bara i X.DAT och ers\xE4tts av n\xE4sta.";
inline const std::string kCannotRestart =
    "InfoBox: Kunde ej \xE5terstarta NetO. Applikationen avslutas";

inline Record DownloadAt(VirtualTime time, int status = 0) {
    return {time, "Download &&&&&& " + kSpoolDir + " 1 -> " + std::to_string(status)};
}

// The nine writes of the configuration with the values of the defaults.
inline std::vector<Record> ConfigurationAt(VirtualTime time) {
    return {{time, "COMport 1"},      {time, "Baudrate 115200"}, {time, "Parity 0"},
            {time, "ByteSize 8"},     {time, "StopBits 0"},      {time, "PollSpeed 250"},
            {time, "PollTimeout -1"}, {time, "IrDADevice 0"},    {time, "RxTxDelay 1"}};
}

inline std::vector<Record> Concat(std::vector<Record> first, const std::vector<Record>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

enum class KeepResult { kNothingToKeep, kKept, kNotKept };

class CycleTest : public ::testing::Test, public DeliverySettler {
  protected:
    CycleTest() {
        settings.AppDir = "C:\\Vorlund\\";
        settings.SpoolDir = kSpoolDir;
        shell.SetDismissDelay(kDismissDelay);
    }

    // Builds the window at virtual time 0, as the shell does at start-up.
    void Start() {
        frm = std::make_unique<TfrmMain>(shell, ctl, settings, *this, "Datasvc",
                                         Cp1252ToUtf16(kSpoolDir));
    }

    // Start, then run past the first start at 100 ms and forget its records.
    void StartReceiving() {
        Start();
        loop.RunUntil(100);
        ASSERT_EQ(loop.Records().back(), DownloadAt(100));
        loop.ClearRecords();
    }

    void ChooseCloseAt(VirtualTime time) {
        loop.At(time, [this] {
            loop.Log("close item chosen");
            frm->OnCloseItemChosen();
        });
    }

    // A delivery settled as the hand-off settles it: converted, and kept
    // when that fails.
    Settlement SettleArrival() override {
        if (conversionThrows) {
            loop.Log("ConvertReceivedFile throws");
            throw std::bad_alloc();
        }
        ConversionResult result = kConverted;
        if (!results.empty()) {
            result = results.front();
            results.pop_front();
        }
        loop.Log("ConvertReceivedFile -> " + std::to_string(result));
        Settlement settlement;
        if (result != kConverted) {
            settlement.result = std::to_string(result);
            const char* names[] = {"nothing to keep", "kept", "not kept"};
            loop.Log("KeepFailedDelivery " + settlement.result + " -> " +
                     names[static_cast<int>(keepResult)]);
            const Settlement::Kind kinds[] = {Settlement::Kind::kNothingToKeep,
                                              Settlement::Kind::kKept, Settlement::Kind::kNotKept};
            settlement.kind = kinds[static_cast<int>(keepResult)];
        }
        return settlement;
    }

    std::optional<Settlement> SettleLeftOver() override {
        if (!leftOver) {
            return std::nullopt;
        }
        leftOver = false;
        loop.Log("left over");
        return SettleArrival();
    }

    SimEventLoop loop;
    SimShell shell{loop};
    SimNetoCtl ctl{loop};
    ServiceSettings settings;
    std::deque<ConversionResult> results;  // then kConverted
    bool conversionThrows = false;
    bool leftOver = false;  // a delivery waits to be settled at start-up
    KeepResult keepResult = KeepResult::kKept;
    std::unique_ptr<TfrmMain> frm;
};

}  // namespace vorlund::sim
