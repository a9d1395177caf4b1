#pragma once

// Test fixture that gives every test its own HOME: a fresh temporary folder,
// removed afterwards, with the working directory and HOME restored. Library
// code then finds its data folder at $HOME/Documents/Ardentvault/ and never
// touches the real user's files.

#include <gtest/gtest.h>

#include <string>

class AvTempHome : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // The temporary HOME, without a trailing '/'.
    const std::string& home() const { return m_home; }
    // Creates $HOME/Documents so the data folder can be made in it.
    void createDocumentsFolder() const;
    // $HOME/Documents/Ardentvault/, created (with Documents) when missing.
    std::string dataFolder() const;

private:
    std::string m_home;
    std::string m_savedHome;
    bool m_hadHome = false;
    std::string m_savedCwd;
};

// Reads a whole file; empty when it cannot be read.
std::string readWholeFile(const std::string& path);
// Writes (replaces) a whole file; false on failure.
bool writeWholeFile(const std::string& path, const std::string& bytes);
