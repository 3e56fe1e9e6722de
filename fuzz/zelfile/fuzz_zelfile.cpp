// Loads arbitrary bytes as a settings file. Whatever loads must save back to bytes that load to
// the same items, and every item must read as a float or fail with the settings error.

#include "settings/TZELFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kavrel::TProgId id;
    id.SetCompany("MorvaneData");
    id.SetProductName("Kavrel");
    id.SetVersion("0.0.0.2");

    kavrel::TZELFile file;
    file.SetProgId(&id);
    if (!file.LoadFromBuffer(data, size)) {
        if (file.NodeCount() != 0 || !file.LoadedProductName().empty())
            std::abort();
        return 0;
    }
    for (int i = 0; i < file.NodeCount(); ++i) {
        const kavrel::tnode& node = file.Nodes(i);
        try {
            (void)file.ReadFloat(node.Section, node.Key, 0.0);
        } catch (const kavrel::EZELfileError&) {
            if (file.GetData(node.Section, node.Key, {}).DataType == kavrel::tdata::FloatType)
                std::abort();
        }
    }

    const auto saved = file.SaveToBuffer();
    kavrel::TZELFile again;
    again.SetProgId(&id);
    if (!again.LoadFromBuffer(saved.data(), saved.size()) || again.NodeCount() != file.NodeCount())
        std::abort();
    for (int i = 0; i < file.NodeCount(); ++i) {
        if (!(again.Nodes(i) == file.Nodes(i)))
            std::abort();
    }
    if (again.FileId() != file.FileId())
        std::abort();
    return 0;
}
