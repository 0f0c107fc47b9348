// A tool that reads a chip's image into a file and writes a file into the chip,
// each as one operation; the command line and the tests drive every family
// through this.
#pragma once

#include "link/operation.h"

namespace kj {

class ImageTool {
public:
    virtual ~ImageTool() = default;
    virtual Operation& operation() = 0;
    // The read and write buttons' handlers: ignored unless idle; they return once
    // the operation runs on its worker, or has ended.
    virtual void startRead() = 0;
    virtual void startWrite() = 0;
};

}  // namespace kj
