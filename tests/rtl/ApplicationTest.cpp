#include "rtl/Application.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <stdexcept>

#include "rtl/Threads.h"

namespace {

using vcl::TApplication;
using vcl::TComponent;

// Sends std::cerr into a string for the life of the object.
struct TCaptureStderr {
  std::ostringstream Text;
  std::streambuf* Saved = std::cerr.rdbuf(Text.rdbuf());
  ~TCaptureStderr() { std::cerr.rdbuf(Saved); }
};

// A component that enters the registry as a form or data module when it is
// created and leaves it when it is destroyed.
class TRegisteredComponent : public TComponent {
 public:
  TRegisteredComponent(TApplication* App, bool IsForm, TComponent* AOwner = nullptr)
      : TComponent(AOwner), FApp(App), FIsForm(IsForm) {
    if (FIsForm)
      FApp->RegisterForm(this);
    else
      FApp->RegisterDataModule(this);
  }
  ~TRegisteredComponent() override {
    if (FIsForm)
      FApp->UnregisterForm(this);
    else
      FApp->UnregisterDataModule(this);
  }

 private:
  TApplication* FApp;
  bool FIsForm;
};

void Raise(int Kind) {
  switch (Kind) {
    case 0: throw vcl::EConvertError("'abc' is not a valid integer value");
    case 1: throw std::runtime_error("disk on fire");
    case 2: throw vcl::EAbort("Operation aborted");
    default: throw 7;
  }
}

TEST(ApplicationTest, HandleExceptionReportsThroughHookOrStderr) {
  struct TCase {
    int Kind;
    std::string Reported;  // empty: silent
  } cases[] = {
      {0, "'abc' is not a valid integer value"},
      {1, "disk on fire"},
      {2, ""},
      {3, "Unknown exception"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Kind);
    TApplication app(nullptr);
    vcl::TObject sender;
    {
      TCaptureStderr err;
      try {
        Raise(c.Kind);
      } catch (...) {
        app.HandleException(&sender);
      }
      EXPECT_EQ(err.Text.str(), c.Reported.empty() ? "" : c.Reported + "\n");
    }
    std::string hooked;
    vcl::TObject* hookSender = nullptr;
    app.OnException = [&](vcl::TObject* Sender, const vcl::Exception& E) {
      hookSender = Sender;
      hooked = E.Message();
    };
    TCaptureStderr err;
    try {
      Raise(c.Kind);
    } catch (...) {
      app.HandleException(&sender);
    }
    EXPECT_EQ(err.Text.str(), "");
    EXPECT_EQ(hooked, c.Reported);
    EXPECT_EQ(hookSender, c.Reported.empty() ? nullptr : &sender);
  }
  // Outside a catch block there is nothing to report.
  TCaptureStderr err;
  vcl::Application->HandleException(nullptr);
  EXPECT_EQ(err.Text.str(), "");
}

TEST(ApplicationTest, ProcessMessagesServesWorkerThreads) {
  TApplication app(nullptr);
  int served = 0;
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i) vcl::Synchronize(nullptr, [&] { ++served; });
    vcl::Synchronize(nullptr, [&] { app.Terminate(); });
  });
  EXPECT_FALSE(app.Terminated());
  app.Run();  // returns once the worker's last call terminated it
  worker.join();
  EXPECT_EQ(served, 3);
  EXPECT_TRUE(app.Terminated());

  std::thread other([&] { app.ProcessMessages(); });  // a no-op off the main thread
  other.join();
  app.ProcessMessages();
}

TEST(ApplicationTest, RegistryKeepsCreationOrderAndForgetsDestroyed) {
  TApplication app(nullptr);
  auto main = std::make_unique<TRegisteredComponent>(&app, true);
  auto data = std::make_unique<TRegisteredComponent>(&app, false);
  auto second = std::make_unique<TRegisteredComponent>(&app, true);
  // Owned by the application, freed with it or before.
  auto* owned = new TRegisteredComponent(&app, true, &app);
  app.RegisterForm(second.get());  // twice: still one entry

  ASSERT_EQ(app.FormCount(), 3);
  EXPECT_EQ(app.Forms(0), main.get());
  EXPECT_EQ(app.Forms(1), second.get());
  EXPECT_EQ(app.Forms(2), owned);
  ASSERT_EQ(app.DataModuleCount(), 1);
  EXPECT_EQ(app.DataModules(0), data.get());
  EXPECT_THROW(app.Forms(3), vcl::EListError);
  EXPECT_THROW(app.DataModules(-1), vcl::EListError);

  second.reset();
  ASSERT_EQ(app.FormCount(), 2);
  EXPECT_EQ(app.Forms(1), owned);
  delete owned;
  EXPECT_EQ(app.FormCount(), 1);
  EXPECT_EQ(app.ComponentCount(), 0);

  // A plain component registered by hand leaves when freed without asking.
  auto plain = std::make_unique<TComponent>(nullptr);
  app.RegisterDataModule(plain.get());
  EXPECT_EQ(app.DataModuleCount(), 2);
  plain.reset();
  EXPECT_EQ(app.DataModuleCount(), 1);
  data.reset();
  EXPECT_EQ(app.DataModuleCount(), 0);
  // The last form leaving empties the registry.
  main.reset();
  EXPECT_EQ(app.FormCount(), 0);
}

TEST(ApplicationTest, RegistryOutlivedByItsComponents) {
  auto form = std::make_unique<TComponent>(nullptr);
  {
    TApplication app(nullptr);
    app.RegisterForm(form.get());
  }
  form.reset();  // must not reach the destroyed application (asan checks)
}

}  // namespace
