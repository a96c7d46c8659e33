#include "cli/list_command.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "cli/json_line.h"

namespace kestrel {

namespace {

constexpr size_t kColumns = 6;
constexpr size_t kCell = 260;

std::string jsonArray(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (const std::string& text : texts) {
        if (out.size() > 1) out += ',';
        out += jsonString(text.c_str());
    }
    out += ']';
    return out;
}

// A device's id as udev writes it ("0403"), or null off USB.
JsonLine& addId(JsonLine& line, const char* key, int id) {
    if (id < 0) return line.addNull(key);
    char hex[12];
    std::snprintf(hex, sizeof hex, "%04x", id);
    return line.add(key, hex);
}

JsonLine& addText(JsonLine& line, const char* key, const std::string& text) {
    return text.empty() ? line.addNull(key) : line.add(key, text);
}

void writeJson(const SerialPortInfo& port, FILE* out) {
    JsonLine line;
    line.add("v", 1).add("event", "port").add("port", port.name).add("kind", port.kind);
    line.addRaw("by_id", jsonArray(port.byId)).addRaw("by_path", jsonArray(port.byPath));
    addId(line, "vid", port.vendorId);
    addId(line, "pid", port.productId);
    addText(line, "serial", port.serial);
    addText(line, "manufacturer", port.manufacturer);
    addText(line, "product", port.product);
    if (port.interfaceNumber < 0)
        line.addNull("interface");
    else
        line.add("interface", port.interfaceNumber);
    std::fputs(line.finish().c_str(), out);
}

// A column's text, cut to the cell: control characters shown as '?', so that a USB
// device's string cannot drive the terminal; "-" for none.
void setCell(char (&cell)[kCell], const char* text) {
    size_t n = 0;
    for (; text[n] != '\0' && n + 1 < kCell; ++n)
        cell[n] = static_cast<unsigned char>(text[n]) < 0x20 || text[n] == 0x7f ? '?' : text[n];
    cell[n] = '\0';
    if (n == 0) setCell(cell, "-");
}

// The text columns of one port: name, kind, vid:pid, serial, interface, first by-id name.
void textRow(const SerialPortInfo& port, char (&row)[kColumns][kCell]) {
    setCell(row[0], port.name.c_str());
    setCell(row[1], port.kind);
    setCell(row[2], "");
    if (port.vendorId >= 0 && port.productId >= 0)
        std::snprintf(row[2], kCell, "%04x:%04x", port.vendorId, port.productId);
    setCell(row[3], port.serial.c_str());
    setCell(row[4], "");
    if (port.interfaceNumber >= 0) std::snprintf(row[4], kCell, "%d", port.interfaceNumber);
    // The folder is the same for every name: the name alone keeps the line short.
    const char* byId = port.byId.empty() ? "" : port.byId.front().c_str();
    const char* slash = std::strrchr(byId, '/');
    setCell(row[5], slash != nullptr ? slash + 1 : byId);
}

}  // namespace

void writePortList(const std::vector<SerialPortInfo>& ports, bool json, FILE* out) {
    if (json) {
        for (const SerialPortInfo& port : ports)
            writeJson(port, out);
        return;
    }
    if (ports.empty()) {
        std::fputs("no serial ports found\n", out);
        return;
    }
    static const char* const kHeader[kColumns] = {"PORT",   "KIND", "VID:PID",
                                                  "SERIAL", "IF",   "BY-ID"};
    char row[kColumns][kCell];
    int width[kColumns] = {};
    // Twice over the ports: first the columns' widths, then the lines.
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t r = 0; r <= ports.size(); ++r) {
            for (size_t c = 0; c < kColumns && r == 0; ++c)
                setCell(row[c], kHeader[c]);
            if (r > 0) textRow(ports[r - 1], row);
            for (size_t c = 0; c < kColumns; ++c) {
                if (pass == 0)
                    width[c] = std::max(width[c], static_cast<int>(std::strlen(row[c])));
                else if (c + 1 < kColumns)
                    std::fprintf(out, "%-*s  ", width[c], row[c]);
                else  // the last column is not padded: no trailing blanks
                    std::fprintf(out, "%s\n", row[c]);
            }
        }
    }
}

int runListCommand(bool json, FILE* out) {
    writePortList(listSerialPorts(), json, out);
    return 0;
}

}  // namespace kestrel
