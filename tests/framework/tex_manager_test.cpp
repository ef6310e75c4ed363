#include "framework/tex_manager.h"

#include <gtest/gtest.h>

#include "tests/framework/captured_log.h"
#include "tests/support/fake_gl.h"

namespace {
const char* const kNoTexture = "Texture with index %d does not exists in this texture manager.";

std::vector<double> deleted_names(const FakeGL& fake) {
  std::vector<double> names;
  for (const GLCall* c : fake.All("glDeleteTextures")) names.push_back(c->args[1]);
  return names;
}
}  // namespace

TEST(TextureManager, IndexesOutsideTheListAreLoggedWithTheOperationName) {
  CapturedLog log;
  FakeGL fake;
  TtexManager manager;
  EXPECT_EQ(manager.GetTexture(0), nullptr);
  EXPECT_TRUE(log.Has(lmetError, "GetTexture", Format(kNoTexture, 0)));
  manager.AddTexture(3);
  TtexTexture* last = manager.AddTexture(4);
  EXPECT_EQ(manager.GetTexture(manager.Count() - 1), last);
  EXPECT_EQ(manager.GetTexture(2), nullptr);
  EXPECT_EQ(manager.GetTexture(-1), nullptr);
  EXPECT_TRUE(log.Has(lmetError, "GetTexture", Format(kNoTexture, 2)));
  EXPECT_TRUE(log.Has(lmetError, "GetTexture", Format(kNoTexture, -1)));
  manager.DeleteTexture(7);
  EXPECT_TRUE(log.Has(lmetError, "DeleteTexture", Format(kNoTexture, 7)));
  EXPECT_EQ(manager.Count(), 2);
  EXPECT_FALSE(manager.CheckIndex(5, "Quiet", false));
  EXPECT_EQ(log.Size(), 4u);
  EXPECT_EQ(fake.Count("glDeleteTextures"), 0u);
}

TEST(TextureManager, DeleteFreesOneTextureAndLaterOnesMoveDownAndLookupsFindTheFirstHolder) {
  FakeGL fake;
  TtexManager manager;
  manager.AddTexture(10);
  manager.AddTexture(11);
  TtexTexture* third = manager.AddTexture(12);
  EXPECT_EQ(third->GetIndex(), 2);
  manager.DeleteTexture(1);
  EXPECT_EQ(deleted_names(fake), std::vector<double>{11});
  EXPECT_EQ(manager.Count(), 2);
  EXPECT_EQ(third->GetIndex(), 1);
  EXPECT_EQ(manager.IndexOfTextureName(12), 1);
  EXPECT_EQ(manager.IndexOfTextureName(11), -1);
  manager.AddTexture(12);
  EXPECT_EQ(manager.IndexOfTextureName(12), 1);  // the first holder
}

TEST(TextureManager, ClearDeletesInListOrder) {
  FakeGL fake;
  TtexManager manager;
  for (uint32_t name : {5u, 6u, 7u}) manager.AddTexture(name);
  manager.Clear();
  EXPECT_EQ(deleted_names(fake), (std::vector<double>{5, 6, 7}));
  EXPECT_EQ(manager.Count(), 0);
  {
    TtexManager other;
    other.AddTexture(21);
    other.AddTexture(22);
  }
  EXPECT_EQ(deleted_names(fake), (std::vector<double>{5, 6, 7, 21, 22}));
}

TEST(TextureManager, ATextureDeletesOnlyTheNameItHoldsLast) {
  FakeGL fake;
  {
    TtexTexture2D unnamed(nullptr);
    EXPECT_EQ(unnamed.GetIndex(), -1);
    EXPECT_EQ(unnamed.GetParameter(GL_TEXTURE_MIN_FILTER), 0);
    unnamed.SetParameter(GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    EXPECT_TRUE(fake.calls.empty());
  }
  EXPECT_EQ(fake.Count("glDeleteTextures"), 0u);
  {
    TtexTexture2D renamed(nullptr);
    renamed.SetTextureName(3);
    renamed.SetTextureName(4);
  }
  EXPECT_EQ(deleted_names(fake), std::vector<double>{4});
  {
    TtexTexture2D lent(nullptr);
    lent.SetTextureName(6);
    lent.OwnsTexture = false;
  }
  EXPECT_EQ(deleted_names(fake), std::vector<double>{4});
}

TEST(TextureManager, TwoDimensionalTexturesBindAndQueryGL2DTarget) {
  FakeGL fake;
  fake.texture_param = GL_NEAREST;
  TtexManager manager;
  TtexTexture2D* tex = manager.AddTexture(13);
  tex->Bind();
  EXPECT_EQ(fake.Last("glBindTexture")->args, (std::vector<double>{GL_TEXTURE_2D, 13}));
  EXPECT_EQ(tex->GetParameter(GL_TEXTURE_MIN_FILTER), GL_NEAREST);
  EXPECT_EQ(fake.Last("glGetTexParameteriv")->args, (std::vector<double>{GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER}));
  tex->SetParameter(GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  EXPECT_EQ(fake.Last("glTexParameteri")->args,
            (std::vector<double>{GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR}));
  EXPECT_EQ(tex->GetInteger(GL_MAX_TEXTURE_SIZE), 4096);
  tex->Unbind();
  EXPECT_EQ(fake.Last("glBindTexture")->args, (std::vector<double>{GL_TEXTURE_2D, 0}));
}
