#include "probe.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace probe {

namespace {

std::string Unhex(const std::string& Text) {
  std::string Bytes;
  for (std::size_t I = 0; I + 1 < Text.size(); I += 2) {
    Bytes.push_back(static_cast<char>(std::stoi(Text.substr(I, 2), nullptr, 16)));
  }
  return Bytes;
}

} // namespace

std::string Hex(const std::string& Bytes) {
  static const char Digits[] = "0123456789abcdef";
  std::string Text;
  for (const char C : Bytes) {
    const auto B = static_cast<unsigned char>(C);
    Text.push_back(Digits[B >> 4]);
    Text.push_back(Digits[B & 15]);
  }
  return Text;
}

Record ParseRecord(const std::string& Text) {
  Record Result;
  std::istringstream Lines(Text);
  std::string Kind;
  std::string Value;
  while (Lines >> Kind) {
    std::getline(Lines, Value);
    Value = Value.empty() ? Value : Value.substr(1);
    if (Kind == "arg") {
      Result.Args.push_back(Unhex(Value));
    } else if (Kind == "cwd") {
      Result.Cwd = Unhex(Value);
    } else if (Kind == "exec") {
      Result.Exec = Unhex(Value);
    } else if (Kind == "fd") {
      Result.Fds.push_back(std::stoi(Value));
    } else if (Kind == "launcherfd") {
      Result.LauncherFds.push_back(std::stoi(Value));
    } else if (Kind == "pwd") {
      Result.Pwd = Unhex(Value);
    } else if (Kind == "env") {
      Result.Env.push_back(Unhex(Value));
    } else if (Kind == "pid") {
      Result.Pid = std::stoi(Value);
    } else if (Kind == "ignored") {
      Result.Ignored.push_back(std::stoi(Value));
    } else if (Kind == "std") {
      Result.StdTypes = Value;
    } else if (Kind == "console") {
      Result.Console = true;
    }
  }
  return Result;
}

std::string ReadFile(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

unsigned long long EnvNumber(const char* Name) {
  const char* Value = std::getenv(Name);
  return Value != nullptr ? std::strtoull(Value, nullptr, 10) : 0;
}

} // namespace probe
