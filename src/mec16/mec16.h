// The MEC1609 window's operations: the response check with the protection
// verdict, the help text, reading MAIN (and INFO) into a file, erasing, and
// writing a file into MAIN. The check and the erase are short and run on the
// caller's thread; a read or write runs on the worker once its start returns.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <string>
#include <string_view>

#include "common/frontend.h"
#include "mec16/mec16_frames.h"
#include "operation/image_tool.h"

namespace kj {

namespace mec16 {
extern const Family kFamily;

// Operation names.
inline constexpr const char* kChecking = "ID";
inline constexpr const char* kErasing = "ERASE";
inline constexpr const char* kReadingMain = "READ_MAIN";
inline constexpr const char* kReadingInfo = "READ_INFO";
inline constexpr const char* kWritingMain = "WRITE_MAIN";

inline constexpr int kGaugeMaxAtStart = kWriteBlocks;
inline constexpr int kReadGaugeMax = kMainPackets;
inline constexpr int kWriteGaugeMax = kWriteBlocks;

// What the log window holds when the window opens.
inline constexpr std::array<std::string_view, 5> kIntroLines{
    "Не готова запись INFO блока ", "Перед записью и стиранием флеш читается в резервную копию.",
    "Не чистый MAIN блок перед записью стирается (с вопросом).",
    "После записи MAIN блок читается обратно и сравнивается с файлом.", ""};

// The wiring of the programmer's JTAG lead and what the board needs.
inline constexpr std::array<std::string_view, 16> kHelpLines{
    "Распиновка для расширенной версии (PCB2):",
    "1-JRST mec16 (не обязательно!)",
    "2-TMS mec16",
    "3-TDO mec16",
    "5-TCLK mec16",
    "6-GND",
    "7-TDI mec16",
    "Для первой версии (PCB1) 1-JRST оставить без подключения. ",
    "",
    "Для ЗАПИСИ MEC нужно поставить R 2кОм на +3V с ножки nFWP. Снимать R на GND, не нужно.",
    "Проверить, что ножка JTAG_RESET не притянута на GND R 0Ом",
    "",
    "Один из выводов VCI_IN0(D2),VCI_IN1(F4),VCI_IN2(C2),VCI_IN3(E1) посадить перемычкой на землю - зависит от MB.",
    "Для MBX-237 нужно посадить на землю VCI_IN1(F4).",
    "Для работы с MEC, должно присутствовать +3V на всех VTR.",
    "Не тестировалось с MEC1619 - могут быть проблемы с записью. Свяжитесь со мной support@korvel-jig.example",
};

// The two protection indicators: black while unknown, red protected, lime allowed.
enum class Indicator { BootLock, Fwp };
using IndicatorShow = std::function<void(Indicator, Rgb)>;

// A failed register step's code, e.g. "E101"; some lines end in a full stop.
struct Loss {
    std::string_view code;
    bool fullStop = false;
};
struct RegisterWrite;
struct ClosingCodes;
}  // namespace mec16

class Mec16Programmer : public ImageTool {
public:
    Mec16Programmer(Bridge& bridge, Frontend& ui);

    // "Проверка отклика от MEC16": the ID, four registers and the protection verdict.
    void checkResponse() {
        op_.launch([this] { check(); });
    }
    // "HELP": the help text, only while idle.
    void showHelp();
    // startErase, "Стирание FLASH MEC16": MAIN, or MAIN and INFO when setEraseInfo(true).
    // startRead, "Чтение FLASH MEC16 ": MAIN, and INFO after it when setReadInfo(true).
    // startWrite, "Запись FLASH MEC16": MAIN only.
    // "СТОП или ВЫХОД" while busy: a read stops after the packet it waits for.
    void requestStop() { op_.requestStop(); }

    // The check boxes, looked at when an operation starts.
    void setReadInfo(bool yes) { readInfo_ = yes; }
    void setEraseInfo(bool yes) { eraseInfo_ = yes; }
    void onIndicator(mec16::IndicatorShow show) { showIndicator_ = std::move(show); }

    Operation& operation() override { return op_; }
    Link& link() { return op_.link(); }
    bool lastSucceeded() const { return op_.lastSucceeded(); }
    const std::string& fileName() const { return fileName_; }

    // Reads FF390Ch and judges it: the verdict lines and the indicators. False
    // when the read was lost; `fault` is set then and when the chip is
    // protected. The value is logged when `showValue`.
    bool checkProtection(bool& fault, bool showValue, mec16::Loss loss);

private:
    // Ends the operation when the link could not be opened: nothing was sent.
    bool openLink();
    void logStartStamp();
    void setIndicators(Rgb colour);
    void setIndicator(mec16::Indicator which, Rgb colour);
    void setGauge(Rgb colour, int maximum);
    // The ID read with its lines; false when fewer than 4 bytes came.
    bool readChipId(mec16::Value& id);
    bool writeLogged(const mec16::RegisterWrite& write, mec16::Loss loss);
    bool readLogged(uint32_t address, std::string_view shownAs, mec16::Loss loss, mec16::Value& value, Millis timeout);
    void closingWrites(const mec16::ClosingCodes& codes);
    std::string lossLine(Io io, mec16::Loss loss) const;
    // A read or write start that gave up once the chip had been asked.
    void failStart();

    bool awaitErased();

    // The whole operations, on the worker.
    void check();
    void eraseFlash();
    void read() override;
    void write() override;
    void eraseSession() override { eraseFlash(); }
    void scopeRead(ReadPurpose purpose, size_t bytes) override;
    // MAIN is written in place: an erase must come first.
    bool writesOnlyBlank() const override { return true; }

    void readStream();
    Io startInfo();
    void endRead(bool main);
    void endByStop();
    void failStream(std::string_view line);
    void failOutput();

    void writeStream();
    void endShortWrite(const mec16::Block& block);
    void endWrite();
    void failWrite(std::string_view line);

    Frontend& ui_;
    mec16::IndicatorShow showIndicator_;
    std::atomic<bool> readInfo_{false};
    std::atomic<bool> eraseInfo_{false};
    std::string fileName_;
    ImageBlocks image_;  // the write's input, read whole before the chip is touched
    int block_ = 0;
    bool withInfo_ = false;  // the read's block mode: "MAIN+INFO", else "MAIN only"
    std::optional<bool> driverInfo_;  // the driver's choice for its own reads, over the check box
    int gaugeMax_ = mec16::kGaugeMaxAtStart;
    mec16::Packet packet_{};
    // Last, so that it goes first: a quit ends the worker while the rest is still there.
    Operation op_;
};

}  // namespace kj
