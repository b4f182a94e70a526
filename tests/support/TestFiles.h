// A whole file read or written in one call, bytes as they are, for tests that prepare or inspect files.
#pragma once

#include <QString>
#include <fstream>
#include <sstream>
#include <string>

// The file's bytes; empty when it cannot be read.
inline std::string Slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
inline std::string Slurp(const QString &path) { return Slurp(path.toStdString()); }

// Replaces the file's contents with `text`, creating it when missing.
inline void Spit(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}
inline void Spit(const QString &path, const std::string &text) { Spit(path.toStdString(), text); }
