#include "monitor/connection_table.h"

namespace quilvane {

std::vector<fw::TFieldDef> ConnectionFields() {
    using fw::TFieldType;
    return {
        {field::ID, TFieldType::ftAutoInc, 0},        {field::HostName, TFieldType::ftString, 16},
        {field::Connected, TFieldType::ftBoolean, 0}, {field::FalseCount, TFieldType::ftInteger, 0},
        {field::UserName, TFieldType::ftString, 20},  {field::Password, TFieldType::ftString, 20},
        {field::Drive, TFieldType::ftString, 2},      {field::UNC, TFieldType::ftString, 50},
        {field::Maped, TFieldType::ftBoolean, 0},     {field::MaxPing, TFieldType::ftInteger, 0},
    };
}

TConnectionRecord::TConnectionRecord(const fw::TRxMemoryData& table)
    : ID(table.FieldByName(field::ID)),
      HostName(table.FieldByName(field::HostName)),
      Connected(table.FieldByName(field::Connected)),
      FalseCount(table.FieldByName(field::FalseCount)),
      UserName(table.FieldByName(field::UserName)),
      Password(table.FieldByName(field::Password)),
      Drive(table.FieldByName(field::Drive)),
      UNC(table.FieldByName(field::UNC)),
      Maped(table.FieldByName(field::Maped)),
      MaxPing(table.FieldByName(field::MaxPing)) {}

}  // namespace quilvane
