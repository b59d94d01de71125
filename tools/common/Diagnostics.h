#pragma once

#include <string>

// Every message a tool writes for its user goes through here, on standard
// error, with the program's name: "smdhost: error: ...".
namespace diagnostics {

// The name the messages start with (command_line::Parse sets it).
void SetProgram(const std::string& name);
const std::string& Program();

void Error(const std::string& text);
void Warning(const std::string& text);
// A message that is neither ("smdhist: picture written to ...").
void Note(const std::string& text);

}  // namespace diagnostics
