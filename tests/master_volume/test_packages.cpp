// The two packages as a designer host sees them: the volume package's Register, and both
// packages' palette bitmaps and version blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include <qx/framework/design/DesignIntf.h>
#include <qx/framework/design/Package.h>
#include <qx/master_volume/QxMasterVol.h>

namespace {

uint32_t Le(const std::vector<uint8_t>& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b.at(at + i);
  return v;
}

}  // namespace

TEST(VolumePackage, RegistersTheComponentOnVelmorBesideTheUdpComponent) {
  TDesignPackage udp(QX_UDP_PACKAGE);
  size_t before = RegistrationLog().size();
  TDesignPackage vol(QX_VOLUME_PACKAGE);
  std::vector<String> calls(RegistrationLog().begin() + before, RegistrationLog().end());
  EXPECT_EQ(calls, (std::vector<String>{"RegisterComponents('Velmor', [TQxMasterVol])",
                                        "RegisterPropertyEditor(string, TQxMasterVol, "
                                        "'AudioDevice', TAudioDeviceProperty)"}));
  auto pages = PalettePages();
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].Name, "Velmor");
  EXPECT_EQ(pages[0].Classes, (std::vector<const TClassInfo*>{TQxUDPS::StaticClassInfo(),
                                                              TQxMasterVol::StaticClassInfo()}));
}

TEST(Packages, CarryTheirBitmapDescriptionVersionBlockAndRequirements) {
  struct Case {
    const char* Path;
    const char* Name;
    const char* Product;
    const char* Bitmap;
  };
  for (const Case& c :
       {Case{QX_UDP_PACKAGE, "QxUDPSReg", "TQxUDPS", "TQXUDPS"},
        Case{QX_VOLUME_PACKAGE, "QxMasterVolReg", "QxMasterVolPkg", "TQXMASTERVOL"}}) {
    SCOPED_TRACE(c.Name);
    TDesignPackage p(c.Path);
    const TQxPackageInfo& i = p.Info();
    EXPECT_STREQ(i.Name, c.Name);
    EXPECT_STRNE(i.Description, "");
    EXPECT_STREQ(i.FileVersion, "1.0.0.0");
    EXPECT_STREQ(i.ProductVersion, "1.0.0.0");
    EXPECT_STREQ(i.FileDescription, c.Name);
    EXPECT_STREQ(i.ProductName, c.Product);
    std::vector<String> req(i.Requires, i.Requires + i.RequiresCount);
    // A design-time package needs its runtime package beside the framework's.
    for (const char* need : {"framework", "design", "net", c.Product})
      EXPECT_NE(std::find(req.begin(), req.end(), need), req.end()) << need;
    EXPECT_TRUE(i.DesignOnly);
    EXPECT_FALSE(i.RunOnly);

    const TQxBitmapResource* r = p.FindBitmap(c.Bitmap);
    ASSERT_NE(r, nullptr);
    std::vector<uint8_t> bmp = BmpFileFromDib(r->Data, r->Size);
    ASSERT_EQ(bmp.size(), 14u + 40u + 24u * 24u * 3u);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(Le(bmp, 2, 4), bmp.size());
    EXPECT_EQ(Le(bmp, 10, 4), 54u);  // pixels right after the headers
    EXPECT_EQ(Le(bmp, 14, 4), 40u);  // BITMAPINFOHEADER
    EXPECT_EQ(Le(bmp, 18, 4), 24u);  // width
    EXPECT_EQ(Le(bmp, 22, 4), 24u);  // height
    EXPECT_EQ(Le(bmp, 26, 2), 1u);   // planes
    EXPECT_EQ(Le(bmp, 28, 2), 24u);  // bits per pixel
    EXPECT_EQ(Le(bmp, 30, 4), 0u);   // uncompressed
    // A picture, not a blank: more than one colour.
    std::set<uint32_t> colours;
    for (size_t at = 54; at < bmp.size(); at += 3) colours.insert(Le(bmp, at, 3));
    EXPECT_GT(colours.size(), 1u);
  }
}

TEST(Packages, AFileThatIsNoPackageIsRefusedWithItsName) {
  for (const char* path : {"/nonexistent/libnothing.so", "/proc/self/exe"}) {
    try {
      TDesignPackage p(path);
      ADD_FAILURE() << path << " loaded";
    } catch (const Exception& e) {
      EXPECT_NE(String(e.what()).find(path), String::npos) << e.what();
    }
  }
}
