// A fresh sandbox folder with a HostOs over it, removed after the test, and
// a FaultyOs over that for the code under test.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/faulty/faulty_os.h"
#include "platform/host/host_os.h"

namespace cabsetup::testing {

class HostSandbox : public ::testing::Test {
protected:
    HostSandbox()
        : root_(std::filesystem::temp_directory_path() /
                ("cabsetup-" + std::to_string(::getpid()) + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name())),
          host_(root_) {
        std::filesystem::remove_all(root_);
        for (const char* folder : {"C/work", "C/setup", "D"}) std::filesystem::create_directories(root_ / folder);
    }
    ~HostSandbox() override { std::filesystem::remove_all(root_); }

    void WriteFile(const std::string& windowsPath, const std::vector<unsigned char>& bytes) {
        std::filesystem::path p = host_.HostPath(windowsPath);
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                  static_cast<std::streamsize>(bytes.size()));
    }
    void WriteFile(const std::string& windowsPath, const std::string& text) {
        WriteFile(windowsPath, std::vector<unsigned char>(text.begin(), text.end()));
    }
    std::string ReadFile(const std::string& windowsPath) {
        std::ifstream in(host_.HostPath(windowsPath), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool Exists(const std::string& windowsPath) { return std::filesystem::exists(host_.HostPath(windowsPath)); }
    void MakeFolder(const std::string& windowsPath) { std::filesystem::create_directories(host_.HostPath(windowsPath)); }

    std::filesystem::path root_;
    HostOs host_;
    // What the code under test is given: the sandbox, with faults on request.
    FaultyOs os_{host_};
};

}  // namespace cabsetup::testing
