// The extension module quil._quil; the package quil (python/quil/) presents it.
#include "Common.h"

PYBIND11_MODULE(_quil, m) {
    m.doc() = "The quil client library and its virtual sensor (use the package quil).";
    m.attr("__version__") = QUIL_VERSION;
    QuilPython::BindErrors(m);
    QuilPython::BindRecords(m);
    QuilPython::BindClient(m);
    QuilPython::BindStream(m);
    auto sim = m.def_submodule("sim", "The virtual sensor, in this process.");
    QuilPython::BindSim(sim);
}
