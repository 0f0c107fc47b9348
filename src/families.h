// Every tool of the launcher, in its order. A tool's folder defines, in its
// namespace kj::<name>, the three things declared below: its descriptor, its
// window and its command-line actions. The launcher, korvel-cli and the tests
// read this one list.
#pragma once

class QWidget;

namespace kj {

struct Family;
struct AppContext;
class ToolWindow;
namespace cli {
struct Tool;
}

#define KJ_FOR_EACH_FAMILY(X) X(edid) X(keyboard) X(kb90xx) X(mec16) X(ite) X(npce)

#define KJ_DECLARE_FAMILY(name)                                     \
    namespace name {                                                \
    extern const Family kFamily;                                    \
    ToolWindow* makeWindow(AppContext& context, QWidget* launcher); \
    extern const cli::Tool kCliTool;                                \
    }
KJ_FOR_EACH_FAMILY(KJ_DECLARE_FAMILY)
#undef KJ_DECLARE_FAMILY

}  // namespace kj
