// A tool that reads a chip's image into a file and writes a file into it, each
// as one operation run whole on its worker; the command line and the tests
// drive every family through this.
#pragma once

#include <memory>

#include "operation/operation.h"

namespace kj {

class ImageTool {
public:
    virtual ~ImageTool() = default;
    virtual Operation& operation() = 0;
    // The read and write buttons' handlers: they return at once, and do
    // nothing while something runs.
    void startRead() {
        operation().launch([this] { read(); });
    }
    void startWrite() {
        operation().launch([this] { write(); });
    }

protected:
    // The whole operation, on its worker.
    virtual void read() = 0;
    virtual void write() = 0;
};

// A family's `imageTool`.
template <class Tool>
std::unique_ptr<ImageTool> makeImageTool(Bridge& bridge, Frontend& ui) {
    return std::make_unique<Tool>(bridge, ui);
}

}  // namespace kj
