#include "cli/list_command.h"

#include <algorithm>
#include <string>

#include "cli/json_line.h"

namespace kestrel {

namespace {

constexpr size_t kColumns = 6;

std::string jsonArray(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (const std::string& text : texts)
        out += (out.size() > 1 ? "," : "") + jsonString(text.c_str());
    return out + "]";
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

// A device's text with control characters shown as '?', so a USB string cannot drive the
// terminal; "-" for none.
std::string shown(const std::string& text) {
    if (text.empty()) return "-";
    std::string out = text;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return out;
}

// The text columns of one port: name, kind, vid:pid, serial, interface, first by-id name.
void textRow(const SerialPortInfo& port, std::string (&row)[kColumns]) {
    char number[24] = "-";
    if (port.vendorId >= 0 && port.productId >= 0)
        std::snprintf(number, sizeof number, "%04x:%04x", port.vendorId, port.productId);
    row[0] = shown(port.name);
    row[1] = port.kind;
    row[2] = number;
    row[3] = shown(port.serial);
    std::snprintf(number, sizeof number, "%d", port.interfaceNumber);
    row[4] = port.interfaceNumber >= 0 ? number : "-";
    // The folder is the same for every name: the name alone keeps the line short.
    const std::string byId = port.byId.empty() ? "" : port.byId.front();
    row[5] = shown(byId.substr(byId.rfind('/') + 1));
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
    std::string row[kColumns];
    int width[kColumns] = {};
    // Twice over the ports: first the columns' widths, then the lines.
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t r = 0; r <= ports.size(); ++r) {
            if (r == 0)
                std::copy(kHeader, kHeader + kColumns, row);
            else
                textRow(ports[r - 1], row);
            for (size_t c = 0; c < kColumns; ++c) {
                if (pass == 0)
                    width[c] = std::max(width[c], static_cast<int>(row[c].size()));
                else if (c + 1 < kColumns)
                    std::fprintf(out, "%-*s  ", width[c], row[c].c_str());
                else  // the last column is not padded: no trailing blanks
                    std::fprintf(out, "%s\n", row[c].c_str());
            }
        }
    }
}

int runListCommand(bool json, FILE* out) {
    writePortList(listSerialPorts(), json, out);
    return 0;
}

}  // namespace kestrel
