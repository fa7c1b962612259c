#include "app/connection_table.h"

namespace quilvane {

std::vector<fw::TFieldDef> ConnectionFields() {
    using fw::TFieldType;
    return {
        {"ID", TFieldType::ftAutoInc, 0},        {"HostName", TFieldType::ftString, 16},
        {"Connected", TFieldType::ftBoolean, 0}, {"FalseCount", TFieldType::ftInteger, 0},
        {"UserName", TFieldType::ftString, 20},  {"Password", TFieldType::ftString, 20},
        {"Drive", TFieldType::ftString, 2},      {"UNC", TFieldType::ftString, 50},
        {"Maped", TFieldType::ftBoolean, 0},     {"MaxPing", TFieldType::ftInteger, 0},
    };
}

}  // namespace quilvane
