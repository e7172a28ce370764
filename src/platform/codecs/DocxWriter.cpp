#include "platform/codecs/DocxWriter.h"

#include "platform/codecs/ZipPackage.h"

#include <QList>

#include <pugixml.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace platform::codecs {

namespace {

constexpr const char* wordNamespace = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
constexpr const char* relationshipsNamespace = "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr const char* officeRelationships =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

struct StringWriter : pugi::xml_writer {
    std::string bytes;
    void write(const void* data, size_t size) override { bytes.append(static_cast<const char*>(data), size); }
};

std::string serialize(const pugi::xml_document& xml) {
    StringWriter writer;
    xml.save(writer, "", pugi::format_raw, pugi::encoding_utf8);
    return std::move(writer.bytes);
}

pugi::xml_node startDocument(pugi::xml_document& xml, const char* rootName) {
    pugi::xml_node declaration = xml.append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "UTF-8";
    declaration.append_attribute("standalone") = "yes";
    return xml.append_child(rootName);
}

std::string hex(const RgbColor& color) {
    char text[7];
    std::snprintf(text, sizeof text, "%02X%02X%02X", color.red, color.green, color.blue);
    return text;
}

const char* underlineValue(UnderlineStyle style) {
    switch (style) {
    case UnderlineStyle::none:
        return "none";
    case UnderlineStyle::single:
        return "single";
    case UnderlineStyle::doubleLine:
        return "double";
    case UnderlineStyle::thick:
        return "thick";
    case UnderlineStyle::dotted:
        return "dotted";
    case UnderlineStyle::dashed:
        return "dash";
    case UnderlineStyle::wavy:
        return "wave";
    }
    return "single";
}

const char* alignmentValue(ParagraphAlignment alignment) {
    switch (alignment) {
    case ParagraphAlignment::natural:
        return nullptr;
    case ParagraphAlignment::left:
        return "left";
    case ParagraphAlignment::center:
        return "center";
    case ParagraphAlignment::right:
        return "right";
    case ParagraphAlignment::justified:
        return "both";
    }
    return nullptr;
}

void setValue(pugi::xml_node parent, const char* name, const char* value) {
    parent.append_child(name).append_attribute("w:val") = value;
}

void writeRunProperties(pugi::xml_node run, const RunStyle& style) {
    if (style == RunStyle{})
        return;
    // Word insists on the schema's order of these elements.
    pugi::xml_node rPr = run.append_child("w:rPr");
    if (style.fontFamily) {
        const std::string family = style.fontFamily->toStdString();
        pugi::xml_node fonts = rPr.append_child("w:rFonts");
        for (const char* which : {"w:ascii", "w:hAnsi", "w:eastAsia", "w:cs"})
            fonts.append_attribute(which) = family.c_str();
    }
    if (style.bold) {
        rPr.append_child("w:b");
        rPr.append_child("w:bCs");
    }
    if (style.italic) {
        rPr.append_child("w:i");
        rPr.append_child("w:iCs");
    }
    if (style.foreground)
        setValue(rPr, "w:color", hex(*style.foreground).c_str());
    if (style.pointSize && std::isfinite(*style.pointSize)) {
        const long halfPoints = std::clamp(std::lround(*style.pointSize * 2), 2L, 3276L);
        const std::string value = std::to_string(halfPoints);
        setValue(rPr, "w:sz", value.c_str());
        setValue(rPr, "w:szCs", value.c_str());
    }
    if (style.underline != UnderlineStyle::none) {
        pugi::xml_node underline = rPr.append_child("w:u");
        underline.append_attribute("w:val") = underlineValue(style.underline);
        if (style.underlineColor)
            underline.append_attribute("w:color") = hex(*style.underlineColor).c_str();
    }
    if (style.background) {
        pugi::xml_node shading = rPr.append_child("w:shd");
        shading.append_attribute("w:val") = "clear";
        shading.append_attribute("w:color") = "auto";
        shading.append_attribute("w:fill") = hex(*style.background).c_str();
    }
}

bool isXmlCharacter(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

void writeRun(pugi::xml_node paragraph, const TextRun& textRun) {
    pugi::xml_node run = paragraph.append_child("w:r");
    writeRunProperties(run, textRun.style);
    std::u32string pending;
    auto flush = [&] {
        if (pending.empty())
            return;
        pugi::xml_node t = run.append_child("w:t");
        t.append_attribute("xml:space") = "preserve";
        t.text().set(
            QString::fromUcs4(pending.data(), static_cast<qsizetype>(pending.size())).toStdString().c_str());
        pending.clear();
    };
    for (const char32_t c : textRun.text.toUcs4()) {
        if (c == u'\t') {
            flush();
            run.append_child("w:tab");
        } else if (c == lineSeparator || c == u'\n' || c == u'\r' || c == 0x2029) {
            flush();
            run.append_child("w:br");
        } else if (isXmlCharacter(c)) {
            pending += c;
        }
    }
    flush();
}

std::string documentPart(const RichDocument& document) {
    pugi::xml_document xml;
    pugi::xml_node root = startDocument(xml, "w:document");
    root.append_attribute("xmlns:w") = wordNamespace;
    root.append_attribute("xmlns:r") = officeRelationships;
    if (document.backgroundColor)
        root.append_child("w:background").append_attribute("w:color") =
            hex(*document.backgroundColor).c_str();
    pugi::xml_node body = root.append_child("w:body");
    std::vector<Paragraph> paragraphs = document.paragraphs;
    if (paragraphs.empty())
        paragraphs.emplace_back();
    for (const Paragraph& paragraph : paragraphs) {
        pugi::xml_node p = body.append_child("w:p");
        if (const char* jc = alignmentValue(paragraph.alignment))
            setValue(p.append_child("w:pPr"), "w:jc", jc);
        for (const TextRun& run : paragraph.runs)
            writeRun(p, run);
    }
    // US Letter with one-inch margins, in twentieths of a point.
    pugi::xml_node section = body.append_child("w:sectPr");
    pugi::xml_node size = section.append_child("w:pgSz");
    size.append_attribute("w:w") = 12240;
    size.append_attribute("w:h") = 15840;
    pugi::xml_node margins = section.append_child("w:pgMar");
    for (const char* side : {"w:top", "w:right", "w:bottom", "w:left"})
        margins.append_attribute(side) = 1440;
    for (const char* other : {"w:header", "w:footer"})
        margins.append_attribute(other) = 720;
    margins.append_attribute("w:gutter") = 0;
    return serialize(xml);
}

std::string stylesPart() {
    pugi::xml_document xml;
    pugi::xml_node root = startDocument(xml, "w:styles");
    root.append_attribute("xmlns:w") = wordNamespace;
    root.append_child("w:docDefaults");
    pugi::xml_node normal = root.append_child("w:style");
    normal.append_attribute("w:type") = "paragraph";
    normal.append_attribute("w:default") = "1";
    normal.append_attribute("w:styleId") = "Normal";
    setValue(normal, "w:name", "Normal");
    normal.append_child("w:qFormat");
    return serialize(xml);
}

std::string settingsPart() {
    pugi::xml_document xml;
    pugi::xml_node root = startDocument(xml, "w:settings");
    root.append_attribute("xmlns:w") = wordNamespace;
    // No w:displayBackgroundShape: the page colour stays a document attribute that word processors
    // do not paint, since exports set their text black (a dark page would hide it).
    return serialize(xml);
}

std::string relationshipsPart(std::initializer_list<std::pair<const char*, const char*>> relationships) {
    pugi::xml_document xml;
    pugi::xml_node root = startDocument(xml, "Relationships");
    root.append_attribute("xmlns") = relationshipsNamespace;
    int id = 0;
    for (const auto& [type, target] : relationships) {
        pugi::xml_node node = root.append_child("Relationship");
        node.append_attribute("Id") = ("rId" + std::to_string(++id)).c_str();
        node.append_attribute("Type") = (std::string(officeRelationships) + "/" + type).c_str();
        node.append_attribute("Target") = target;
    }
    return serialize(xml);
}

std::string contentTypesPart() {
    pugi::xml_document xml;
    pugi::xml_node root = startDocument(xml, "Types");
    root.append_attribute("xmlns") = "http://schemas.openxmlformats.org/package/2006/content-types";
    auto add = [&](const char* kind, const char* keyName, const char* key, const char* type) {
        pugi::xml_node node = root.append_child(kind);
        node.append_attribute(keyName) = key;
        node.append_attribute("ContentType") = type;
    };
    add("Default", "Extension", "rels", "application/vnd.openxmlformats-package.relationships+xml");
    add("Default", "Extension", "xml", "application/xml");
    add("Override", "PartName", "/word/document.xml",
        "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml");
    add("Override", "PartName", "/word/styles.xml",
        "application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml");
    add("Override", "PartName", "/word/settings.xml",
        "application/vnd.openxmlformats-officedocument.wordprocessingml.settings+xml");
    return serialize(xml);
}

} // namespace

std::string DocxWriter::write(const RichDocument& document) {
    ZipWriter zip;
    zip.add("[Content_Types].xml", contentTypesPart());
    zip.add("_rels/.rels", relationshipsPart({{"officeDocument", "word/document.xml"}}));
    zip.add("word/document.xml", documentPart(document));
    zip.add("word/_rels/document.xml.rels",
            relationshipsPart({{"styles", "styles.xml"}, {"settings", "settings.xml"}}));
    zip.add("word/styles.xml", stylesPart());
    zip.add("word/settings.xml", settingsPart());
    return zip.finish();
}

} // namespace platform::codecs
