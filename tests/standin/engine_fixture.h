// Engine-level test fixture: a stand-in engine on a fresh SQLite file with
// the server clock at 2009-09-18 03:00:00, and short ways to run statements
// and read their results as text.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "standin/engine.h"
#include "tests/support/support.h"

namespace enginetest {

using Rows = std::vector<std::vector<std::string>>;

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override { open("2009-09-18 03:00:00"); }

    void open(const std::string& serverTime) {
        db.reset();
        standin::Diag error;
        db = standin::Engine::open({dir.file("test.db"), serverTime}, &error);
        ASSERT_TRUE(db) << error.message;
    }

    static std::string describe(const standin::Result& r) {
        std::string out;
        for (const auto& d : r.diags) {
            out += d.sqlState + "/" + std::to_string(d.native) + " " + d.message + "\n";
        }
        return out;
    }

    // Runs a statement that must not fail.
    standin::Result ok(const std::string& sql) {
        standin::Result r = db->execute(sql);
        EXPECT_NE(r.status, standin::Status::Error) << sql << "\n" << describe(r);
        return r;
    }

    // Runs a statement that must fail with the given error; returns its
    // first diagnostic.
    standin::Diag fails(const std::string& sql, int native, const std::string& sqlState) {
        standin::Result r = db->execute(sql);
        EXPECT_EQ(r.status, standin::Status::Error) << sql;
        if (r.diags.empty()) return {};
        EXPECT_EQ(r.diags[0].native, native) << sql << "\n" << describe(r);
        EXPECT_EQ(r.diags[0].sqlState, sqlState) << sql << "\n" << describe(r);
        return r.diags[0];
    }

    // Every value as text, NULL as "NULL".
    Rows rows(const std::string& sql) {
        const standin::Result r = ok(sql);
        EXPECT_TRUE(r.hasResultSet) << sql;
        Rows out;
        for (const auto& row : r.rows) {
            std::vector<std::string> values;
            for (const auto& v : row) values.push_back(v.value_or("NULL"));
            out.push_back(values);
        }
        return out;
    }

    std::string scalar(const std::string& sql) {
        const Rows r = rows(sql);
        if (r.size() != 1 || r[0].size() != 1) {
            ADD_FAILURE() << sql << ": not a single value";
            return "";
        }
        return r[0][0];
    }

    // The project's table definitions under schema QRV.
    void loadSchema() {
        std::istringstream in(kt::readFile(kt::sourceDir() + "/sql/schema.sql"));
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty()) continue;
            for (size_t p; (p = line.find("$(SCHEMA)")) != std::string::npos;) {
                line.replace(p, 9, "QRV");
            }
            ok(line);
        }
    }

    kt::TempDir dir;
    std::unique_ptr<standin::Engine> db;
};

}  // namespace enginetest
