# The launcher activity: a single centred line of text, built in code so the
# package needs no layout resources. Written in smali because Debian ships
# no Java-to-dex compiler (d8/dx); this is what javac + d8 would produce for:
#
#   public class MainActivity extends Activity {
#       @Override protected void onCreate(Bundle state) {
#           super.onCreate(state);
#           TextView text = new TextView(this);
#           text.setText("Zorvik Store");
#           text.setTextSize(32f);
#           text.setGravity(Gravity.CENTER);
#           setContentView(text);
#       }
#   }

.class public Lru/zorvik/store/MainActivity;
.super Landroid/app/Activity;
.source "MainActivity.smali"

.method public constructor <init>()V
    .registers 1
    invoke-direct {p0}, Landroid/app/Activity;-><init>()V
    return-void
.end method

.method protected onCreate(Landroid/os/Bundle;)V
    .registers 4
    invoke-super {p0, p1}, Landroid/app/Activity;->onCreate(Landroid/os/Bundle;)V

    new-instance v0, Landroid/widget/TextView;
    invoke-direct {v0, p0}, Landroid/widget/TextView;-><init>(Landroid/content/Context;)V

    const-string v1, "Zorvik Store"
    invoke-virtual {v0, v1}, Landroid/widget/TextView;->setText(Ljava/lang/CharSequence;)V

    # 32.0f: large enough to read from the driver's seat
    const/high16 v1, 0x42000000
    invoke-virtual {v0, v1}, Landroid/widget/TextView;->setTextSize(F)V

    # Gravity.CENTER
    const/16 v1, 0x11
    invoke-virtual {v0, v1}, Landroid/widget/TextView;->setGravity(I)V

    invoke-virtual {p0, v0}, Lru/zorvik/store/MainActivity;->setContentView(Landroid/view/View;)V
    return-void
.end method
