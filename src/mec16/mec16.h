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
// An indicator's new colour, shown by the front end beside the log.
struct IndicatorEvent {
    Indicator which;
    Rgb colour;
};

// A failed register step's code, e.g. "E101"; some lines end in a full stop.
struct Loss {
    std::string_view code;
    bool fullStop = false;
};
struct RegisterWrite;
struct ClosingCodes;
}  // namespace mec16

// The response check, the help, and the read, erase and write sessions, each
// one link session as the programmer's firmware knows it. The image tool runs
// "Чтение FLASH MEC16 " (MAIN, and INFO after it when extended), "Стирание
// FLASH MEC16" (MAIN, or MAIN and INFO when extended) and "Запись FLASH MEC16"
// (MAIN only); "СТОП или ВЫХОД" while busy stops a read after the packet it
// waits for.
class Mec16Sessions : public ImageSessions {
public:
    using ImageSessions::ImageSessions;

    // "Проверка отклика от MEC16": the ID, four registers and the protection verdict.
    void checkResponse();
    // "HELP": the help text, only while idle.
    void showHelp();

    void read(const ReadRequest& request) override;
    void write(const WriteRequest& request) override;
    void erase(const EraseRequest& request) override;

    Link& link() { return op_.link(); }
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

    void check();

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

    std::string fileName_;
    ImageBlocks image_;  // the write's image, exactly as the driver hands it over
    int block_ = 0;
    bool withInfo_ = false;  // the read's block mode: "MAIN+INFO", else "MAIN only"
    int gaugeMax_ = mec16::kGaugeMaxAtStart;
    mec16::Packet packet_{};
};

}  // namespace kj
