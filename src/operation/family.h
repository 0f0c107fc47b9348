// What sets one tool apart from the others, as data: the firmware it talks to
// and its link variant, its language, the bytes that close its operations, its
// image and its file dialogs. Each tool registers its own; the launcher and the
// command line read them in their places.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/image_file.h"
#include "common/registry.h"
#include "common/text.h"
#include "link/firmware_id.h"
#include "link/link.h"

namespace kj {

class Bridge;
class ImageSessions;
class Operation;

// The bytes that close an operation at the programmer.
struct EndBytes {
    std::string_view success = "I";
    std::string_view failure = "O";
    bool answered = false;  // the firmware answers each end byte with one byte
    bool drained = false;   // the transmit queue empties before the link closes
};

struct Family {
    int place = 0;                       // its place among the launcher's buttons, from the top
    std::string_view name{};             // the command line's tool name
    std::string_view launcherButton{};   // the launcher button's object name
    std::string_view launcherCaption{};  // and its caption
    FirmwareId firmware{};               // the firmware it talks to
    LinkVariant link{};
    Language language = Language::English;
    EndBytes ends{};
    bool emptyLineAfterStamp = false;  // the time-stamp line that closes an operation
    bool clearsLog = false;            // an image operation starts on an empty log
    bool fileErrorBoxes = true;        // file errors raise a box as well as a line
    size_t imageSize = 0;              // 0: the tool moves no image
    std::string_view saveFilter{};
    std::string_view openFilter{};
    size_t alternateImageSize = 0;  // another size a write takes without asking (a part of the image)
    size_t extendedImageSize = 0;   // the image with the chip's extra block, read when the user asks
    std::string_view saveName = "Noname";
    // Logged when a write fails once the chip's flash was changed: it must be written again.
    std::string_view flashIncompleteLine{};
    // Logged, besides the error box where the family shows one, when a write's file cannot be read.
    std::string_view openFailedLine{};
    bool verifiesItself = false;   // a write ends in the chip's own check of what it holds
    bool writesOnlyBlank = false;  // a write goes only onto a blank flash: it is erased first
    bool erases = false;           // the chip can be erased on its own
    // The family's sessions over an operation, for the image driver; null when
    // the tool moves no image.
    std::unique_ptr<ImageSessions> (*sessions)(Operation& operation) = nullptr;
};

// Every registered family, in its place.
std::vector<const Family*> families();
const Family* findFamily(std::string_view name);

// The entries of a registry in the places of their families, as `familyOf`
// gives an entry's family; those without one first. Equal places keep the
// order they registered in.
template <class Entry, class FamilyOf>
std::vector<const Entry*> inFamilyPlaces(FamilyOf familyOf) {
    const auto place = [&](const Entry* entry) {
        const Family* family = familyOf(*entry);
        return family ? family->place : -1;
    };
    std::vector<const Entry*> all = Registry<Entry>::entries();
    std::stable_sort(all.begin(), all.end(), [&](const Entry* a, const Entry* b) { return place(a) < place(b); });
    return all;
}

// A read's file is named after the job, when there is one, and the tool.
inline FileDialogSpec saveDialog(const Family& family, std::string_view job = {}) {
    auto spec = imageSaveDialog(std::string(family.saveFilter));
    spec.defaultName = job.empty() ? std::string(family.saveName) : std::string(job) + "-" + std::string(family.name);
    return spec;
}
inline FileDialogSpec openDialog(const Family& family) { return imageOpenDialog(std::string(family.openFilter)); }
// A file of this size is the chip's image as the family reads it.
inline bool isImageSize(const Family& family, uint64_t size) {
    return size == family.imageSize || (family.alternateImageSize && size == family.alternateImageSize) ||
           (family.extendedImageSize && size == family.extendedImageSize);
}

}  // namespace kj
