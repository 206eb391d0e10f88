// SPDX-License-Identifier: MIT
#include "Forms.h"

#include "main/Telvixmain1.h"
#include "send/Telvixmain3.h"
#include "send/Telvixmain4.h"
#include "send/Telvixmain5.h"
#include "serial/Telvixmain2.h"
#include "settings/Telvixmain6.h"

namespace Forms {

void createAll()
{
    Form1 = new TForm1;
    Form2 = new TForm2(Form1);
    Form3 = new TForm3(Form1);
    Form4 = new TForm4(Form1);
    Form5 = new TForm5(Form1);
    Form6 = new TForm6(Form1);
}

void destroyAll()
{
    delete Form1; // owns the dialogs
    Form1 = nullptr;
    Form2 = nullptr;
    Form3 = nullptr;
    Form4 = nullptr;
    Form5 = nullptr;
    Form6 = nullptr;
}

} // namespace Forms
