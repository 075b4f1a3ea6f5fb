#include "model/ScanList.h"

#include <gtest/gtest.h>

#include "support/Error.h"

using namespace dorvex;

TEST(ScanList, EmptyListAnswersEmpty) {
    CScanList list;
    EXPECT_TRUE(list.IsAllSaved());
    EXPECT_TRUE(list.IsAllTheState(state::Changed));
    EXPECT_EQ(list.LastCInno(), nullptr);
    EXPECT_EQ(list.TotalInnos(), 0);
    EXPECT_EQ(list.RemoveByInno("X"), 0);
    EXPECT_EQ(list.GetInno2("X"), nullptr);
    EXPECT_EQ(list.GetIndexByBatchNo("B"), 0);
    EXPECT_THROW(list.BatchNoList(1), DorvexError);
    list.Remove(1);  // nothing happens
    EXPECT_EQ(list.Length(), 0);
    list.Add("B", "A");
    list.Remove(0);
    list.Remove(2);
    EXPECT_EQ(list.Length(), 1);  // positions outside the list remove nothing
    EXPECT_TRUE(list.IsInnoExists("A"));
}

TEST(ScanList, AddFindsOrCreatesBatchesAndReusesDocuments) {
    CScanList list;
    auto a1 = list.Add("B1", "A1", 3);
    auto a2 = list.Add("B1", "A2");
    auto c1 = list.Add("B2", "C1");
    EXPECT_EQ(list.Length(), 2);
    EXPECT_EQ(list.BatchNoList(1)->Length(), 2);
    EXPECT_EQ(a1->PredictPage, 3);
    EXPECT_EQ(a2->PredictPage, 0);
    EXPECT_EQ(a1->BatchNo(), list.BatchNoList(1));
    EXPECT_EQ(list.GetInno("B2", "C1"), c1);
    EXPECT_EQ(list.GetInno("B1", "C1"), nullptr);
    EXPECT_EQ(list.GetInno2("C1"), c1);
    EXPECT_EQ(list.LastCInno(), c1);
    EXPECT_EQ(list.TotalInnos(), 3);

    // Same number again: the same document; a saved one becomes changed (11 -> 10).
    a1->SetState(state::SavedOther);
    auto again = list.Add("B1", "A1");
    EXPECT_EQ(again, a1);
    EXPECT_EQ(list.BatchNoList(1)->Length(), 2);
    EXPECT_EQ(a1->state(), state::ChangedOther);
    EXPECT_EQ(a1->PredictPage, 3);  // kept when not given

    // Comparisons are exact.
    EXPECT_EQ(list.GetInno2("a1"), nullptr);
    EXPECT_EQ(list.GetBatchNo("b1"), nullptr);
}

TEST(ScanList, RemovalAndTreeIndexes) {
    CScanList list;
    list.Add("B1", "A1")->Index = 2;
    list.Add("B1", "A2")->Index = 3;
    list.BatchNoList(1)->Index = 1;
    list.Add("B2", "C1")->Index = 5;
    list.BatchNoList(2)->Index = 4;

    EXPECT_EQ(list.GetInnoByIndex(3)->Inno(), "A2");
    EXPECT_EQ(list.RemoveByInno("A2"), 3);
    list.ResetNodeIndex(3);
    EXPECT_EQ(list.BatchNoList(1)->Index, 1);
    EXPECT_EQ(list.GetInno2("A1")->Index, 2);
    EXPECT_EQ(list.BatchNoList(2)->Index, 3);
    EXPECT_EQ(list.GetInno2("C1")->Index, 4);

    list.CleanNodesIndex();
    EXPECT_EQ(list.GetInno2("C1")->Index, 0);
    EXPECT_EQ(list.BatchNoList(2)->Index, 0);

    list.Remove(1);
    EXPECT_EQ(list.Length(), 1);
    EXPECT_EQ(list.BatchNoList(1)->BatchNo, "B2");
    EXPECT_THROW(list.BatchNoList(1)->Item(2), DorvexError);
    EXPECT_THROW(list.BatchNoList(1)->Item(0), DorvexError);
}

TEST(ScanList, ListSeqFollowsTheCompareListAndSortNumbersOneToN) {
    CScanList server;  // the server's to-scan list: keys are positions
    server.Add("B", "S1");
    server.Add("B", "S2");
    server.Add("B", "S3");
    EXPECT_EQ(server.GetInno2("S3")->ListSeq, 3);

    CScanList scanned;
    scanned.CompareList = &server;
    auto x = scanned.Add("B", "X");    // not on the list
    auto s3 = scanned.Add("B", "S3");  // third on the list
    auto y = scanned.Add("B", "Y");
    auto s1 = scanned.Add("B", "S1");
    auto other = scanned.Add("OTHER", "S1");  // another batch: the list does not know it there
    EXPECT_EQ(x->ListSeq, 1001);
    EXPECT_EQ(s3->ListSeq, 3);
    EXPECT_EQ(y->ListSeq, 1002);
    EXPECT_EQ(s1->ListSeq, 1);
    EXPECT_EQ(other->ListSeq, 1001);

    scanned.Sort();
    auto batch = scanned.BatchNoList(1);
    std::vector<std::string> order;
    for (int i = 1; i <= batch->Length(); ++i) {
        order.push_back(batch->Item(i)->Inno());
        EXPECT_EQ(batch->Item(i)->ListSeq, i);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"S1", "S3", "X", "Y"}));
}

TEST(ScanList, InsertAfterPlacesAndRenumbers) {
    CScanList list;
    list.Add("B", "A");
    list.Add("B", "C");
    list.Add("B", "D");
    auto batch = list.BatchNoList(1);
    auto b = batch->InsertAfter("A-1", "A");
    EXPECT_EQ(batch->Item(2), b);
    EXPECT_EQ(b->BatchNo(), batch);
    EXPECT_EQ(b->ListSeq, 2);
    EXPECT_EQ(batch->Item(3)->Inno(), "C");
    EXPECT_EQ(batch->Item(3)->ListSeq, 3);
    EXPECT_EQ(batch->Item(4)->ListSeq, 4);
    // An unknown anchor appends like AddInno.
    batch->InsertAfter("Z", "nope");
    EXPECT_EQ(batch->Item(5)->Inno(), "Z");
    batch->RemoveInnoByIndex(9);  // nothing
    batch->RemoveInnoByIndex(1);
    EXPECT_EQ(batch->Item(1)->Inno(), "A-1");
    EXPECT_EQ(batch->Item(1)->ListSeq, 2);  // not renumbered
}

TEST(DocumentState, TouchFullChangeAndOwnership) {
    CInno doc;
    EXPECT_EQ(doc.state(), state::New);
    doc.PutWord("主旨", "x");  // touch leaves 4 alone
    EXPECT_EQ(doc.state(), state::New);
    doc.SetChanged();  // 4 -> 6, then ownership (not mine) -> 10
    EXPECT_EQ(doc.state(), state::ChangedOther);
    doc.SetIsMine(true);
    EXPECT_EQ(doc.state(), state::Changed);
    doc.SetState(state::SavedOther);  // ownership: mine -> 2
    EXPECT_EQ(doc.state(), state::Saved);
    doc.SetActPage(1);  // touch: 2 -> 6
    EXPECT_EQ(doc.state(), state::Changed);
    doc.SetIsMine(false);
    EXPECT_EQ(doc.state(), state::ChangedOther);
    doc.SetState(state::Saved);
    EXPECT_EQ(doc.state(), state::SavedOther);
    doc.SetInno("N");  // touch: 11 -> 10
    EXPECT_EQ(doc.state(), state::ChangedOther);
    doc.SetState(state::Scanned);
    doc.SetIsMine(true);
    EXPECT_EQ(doc.state(), state::Scanned);
    doc.SetChanged();
    EXPECT_EQ(doc.state(), state::Scanned);

    CScanList list;
    list.Add("B", "A")->SetState(state::Saved);
    list.Add("B", "C")->SetState(state::SavedOther);
    EXPECT_TRUE(list.IsAllSaved());
    EXPECT_TRUE(list.IsAllTheState(state::SavedOther));  // not on a to-scan list: both are 11
    EXPECT_FALSE(list.IsAllTheState(state::Saved));
    list.Add("B", "D");
    EXPECT_FALSE(list.IsAllSaved());
}

TEST(DocumentWords, PutWordAndSerial) {
    CInno doc;
    doc.SetState(state::SavedOther);
    doc.PutWord("主旨", "a");
    EXPECT_TRUE(doc.IsParsed());
    EXPECT_EQ(doc.state(), state::ChangedOther);
    doc.SetState(state::SavedOther);
    doc.PutWord("主旨", "a");  // same value: no touch
    EXPECT_EQ(doc.state(), state::SavedOther);

    doc.PutWordSerial("主旨=請查照|說明=一、第一行\\r\\n二、第二行=dropped|受文者=");
    ASSERT_EQ(doc.Words().size(), 3u);
    EXPECT_EQ(doc.Words()[0], (CPhase{"主旨", "請查照"}));
    EXPECT_EQ(doc.Words()[1], (CPhase{"說明", "一、第一行\r\n二、第二行"}));
    EXPECT_EQ(doc.Words()[2], (CPhase{"受文者", ""}));
    doc.PutWordSerial("");  // nothing
    EXPECT_EQ(doc.Words().size(), 3u);
    try {
        doc.PutWordSerial("a=1|broken");
        FAIL();
    } catch (const DorvexError& e) {
        EXPECT_EQ(e.Number(), err::SubscriptOutOfRange);
    }
    EXPECT_EQ(doc.Words().size(), 3u);  // nothing of the bad text was stored
}

TEST(ScanList, ExtraSequenceOverflowIsAnError) {
    CScanList list;
    auto batch = list.BatchNoList((list.Add("B", "A"), 1));
    for (int i = 1001; i < 32767; ++i) batch->ExtraListSeq();
    EXPECT_EQ(batch->ExtraListSeq(), 32767);
    EXPECT_THROW(batch->ExtraListSeq(), DorvexError);
}
