object ComPortForm: TComPortForm
  Left = 455
  Top = 259
  Width = 263
  Height = 173
  Caption = 'COM Port'
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  OnClose = FormClose
  object cbNames: TComboBox
    Left = 24
    Top = 24
    Width = 121
    Height = 21
    Style = csDropDownList
    Items.Strings = (
      'COM3'
      'COM1')
  end
  object Button2: TButton
    Left = 168
    Top = 24
    Width = 75
    Height = 25
    Caption = 'Open'
    OnClick = Button2Click
  end
  object Edit1: TEdit
    Left = 24
    Top = 88
    Width = 121
    Height = 21
    Text = '128'
  end
  object Button1: TButton
    Left = 160
    Top = 88
    Width = 75
    Height = 25
    Caption = 'Send'
    OnClick = Button1Click
  end
end
