// A working folder with a build description, payload sources and a stand-in
// engine, a builder whose log is recorded, and readers for the package.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "builder/engine_image.h"
#include "builder/package_builder.h"
#include "common/file_digest.h"
#include "common/package_manifest.h"
#include "common/crypt.h"
#include "common/text_file.h"
#include "platform/xml.h"
#include "sealed_package.h"
#include "temp_folder.h"

namespace volok {

class BuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::WriteNative(FWork.Native("engine.exe"), testing::StandInEngine());
    FBuilder.SetEngineFile(FWork.File("engine.exe"));
    FBuilder.OnLog = [this](const std::string& text, int type) {
      FLog.push_back(std::to_string(type) + "|" + text);
    };
  }

  // A build description with the root's builder elements, the header the
  // installer requires, `entries`, and `tail` after the install list.
  void WriteDescription(const std::string& entries, const std::string& source = "",
                        const std::string& number = "2.5", const std::string& tail = "") {
    WriteRaw("<?xml version=\"1.0\" encoding=\"utf-8\"?><Installer><UpdateSource>" + source +
             "</UpdateSource><UpdateType>File</UpdateType><UpdateAction>Copy</UpdateAction><Number>" + number +
             "</Number>" + Header() + "<Install>" + entries + "</Install>" + tail + "</Installer>");
  }
  static std::string Header() {
    return "<Company>Фирма</Company><Name>Демо</Name><ShortName>Demo</ShortName>"
           "<InstallPath>{ProgramFiles}\\Demo</InstallPath>";
  }
  void WriteRaw(const std::string& xml) { testing::WriteNative(FWork.Native("installer.xml"), xml); }

  static std::string Entry(const std::string& file_name, const std::string& source, const std::string& type,
                           const std::string& action, const std::string& extra = "") {
    return "<File><UpdateSource>" + source + "</UpdateSource><UpdateType>" + type + "</UpdateType><UpdateAction>" +
           action + "</UpdateAction>" + extra + "<Name>" + file_name + "</Name><FileName>" + file_name +
           "</FileName><Action>UnZip</Action><Destination>{InstallPath}</Destination><Size>9</Size>"
           "<CRC32>FFFFFFFF</CRC32></File>";
  }

  bool Build() { return FBuilder.MakeInstall(FWork.File("installer.xml"), FWork.File("output-installer")); }

  std::string PackageFolder(const std::string& version) const {
    return FWork.File("output-installer") + "\\" + version + "\\";
  }
  std::filesystem::path PackageNative(const std::string& version, const std::string& name = "") const {
    return FWork.Native("output-installer") / version / name;
  }

  // The package's decrypted "setup.xml" as a document.
  std::unique_ptr<platform::XmlDocument> PackageDocument(const std::string& version) {
    std::unique_ptr<platform::XmlDocument> document;
    EXPECT_TRUE(platform::XmlParser::Default().CreateDocument(document).ok());
    std::string text = DecryptText(ReadTextFile(PackageFolder(version) + "setup.xml"));
    EXPECT_TRUE(document->LoadXml(text)) << text;
    return document;
  }

  // The manifest sealed into the package's "setup.exe", read as the engine
  // reads its own: through the record in the image.
  TPackageManifest SealedManifest(const std::string& version) {
    const std::string image = testing::ReadNative(PackageNative(version, "setup.exe"));
    TManifestRecord record;
    TPackageManifest manifest;
    std::string failure;
    EXPECT_TRUE(DecodeManifestRecord(std::string_view(image).substr(ManifestRecordOffset(image)), record));
    EXPECT_LE(record.Offset + record.Length, image.size());
    const std::string blob = image.substr(record.Offset, record.Length);
    EXPECT_EQ(BytesDigest(blob).Sha256, record.Sha256);
    EXPECT_TRUE(ReadManifest(blob, image.size(), manifest, failure)) << failure;
    return manifest;
  }

  testing::TempFolder FWork;
  TPackageBuilder FBuilder;
  std::vector<std::string> FLog;  // "type|text"
};

}  // namespace volok
