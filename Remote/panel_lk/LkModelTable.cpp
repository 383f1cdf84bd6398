#include "LkModelTable.h"

#include <initializer_list>

namespace lk {

namespace {

struct ModelRow
{
    int group;
    std::initializer_list<std::string_view> models;
};

const ModelRow kModels[] = {
    {2, {"QX4301B", "QX4302B", "QX4303A", "QX4304B", "KL4301B", "KL4302B", "KL4304B", "MW310"}},
    {4, {"QX512A", "KL512A", "QX513A", "KL513A", "QX514A", "KL514A", "QX515A", "KL515A"}},
    {6,
     {"KL561A", "KL562A", "KL564A", "KL561B", "KL562B", "KL564B", "KL512B", "KL513B", "KL514B",
      "KL515B"}},
    {3, {"QX538A", "KL538A"}},
    {5,
     {"QX535C", "KL535C", "QX536C", "KL536C", "MW4000C", "B817C", "QX537C", "KL537C", "QX538C",
      "KL538C"}},
};

} // namespace

int ModelGroupOf(std::string_view modelText)
{
    for (const ModelRow &row : kModels)
        for (std::string_view model : row.models)
            if (modelText == model)
                return row.group;
    return kUnknownModel;
}

} // namespace lk
